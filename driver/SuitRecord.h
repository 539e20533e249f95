// The driver's record of one suit: what the suit library needs to open it,
// its handle while open, and its newest sample behind a mutex so that another
// thread can copy the sample out whole while the driver's worker refreshes it.
#pragma once

#include "driver/Frame.h"
#include "driver/Gyro.h"
#include "driver/SuitInfo.h"
#include "threading/Orv_Mutex.h"

class SuitRecord {
public:
    // Enumerates the suit in the library; the frame starts all zero.
    explicit SuitRecord(int index);
    // Closes the frame mutex only: the suit stays as the library has it.
    ~SuitRecord();

    SuitRecord(const SuitRecord&) = delete;
    SuitRecord& operator=(const SuitRecord&) = delete;

    // Opens the suit unless it is open; a failed open leaves it closed.
    void Open();
    void Close();
    // Fetches the newest sample of an open suit, under the frame mutex.
    void Read();
    // Copies the newest sample whole, under the frame mutex.
    void CopyFrame(Frame& out);

    // Passed to the library with whatever handle the record holds.
    void SetNull();
    void SetNorth();
    void EnableJumping(bool on);
    void EnableUnevenTerrain(bool on);
    void EnableIgnoreFloor(bool on);

    int index;
    // Non-zero while open; keeps its last value after Close.
    GyroHandle suitHandle;
    SuitInfo info;
    Frame frame;
    Orv_Mutex frameMutex;
    bool open;
};
