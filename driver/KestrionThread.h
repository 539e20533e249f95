// The suit driver: starts the suit library, keeps one record per suit, and
// runs a worker that reads every open suit, pauses 25 ms and reads again.
//
// Locks: the driver mutex is named "KestrionMutex", so every driver in the
// process (and in other processes of the user) shares it. A polling pass
// holds it for all its reads, and so do Connect, Disconnect and the five
// settings. Each record's frame mutex is taken inside it by a read, and alone
// by GetFrame; never the other way round.
//
// One thread controls a driver: Start, Stop, GetFrame, GetNrOfSuits and
// destruction read or change the record list without the driver mutex.
#pragma once

#include "driver/Frame.h"
#include "abi/export.h"
#include "threading/Orv_Mutex.h"
#include "threading/Orv_Thread.h"

#include <vector>

class SuitRecord;

class KX_PLUGIN_API KestrionThread : public Orv_Thread {
public:
    // Idle: no thread, no suits, no library call; only the mutex is created.
    KestrionThread();

    // A driver's worker and records belong to it alone, so a copy never
    // shares them: it is an idle driver with its own handle to
    // "KestrionMutex". Assignment leaves the target driver as it was. No two
    // drivers ever stop, terminate or free what the other uses.
    KestrionThread(const KestrionThread& other);
    KestrionThread& operator=(const KestrionThread& other);

    // Ends a running worker (the base's stop procedure) before anything it
    // uses goes, then frees the records' memory and mutexes (keeps them, if
    // the worker could not be ended). It makes no library call: closing
    // suits and finishing the library is Stop's work.
    ~KestrionThread() override;

    // Initialises the library, builds one record per suit and starts the
    // worker; failures are reported as debug messages. Does nothing while
    // the worker runs.
    void Start() override;
    void Run() override;
    // Ends the worker (terminating it after 500 ms), destroys the records
    // without closing their suits, finishes the library. Records that a
    // worker which could not be ended may still write are kept instead, and
    // a debug message says so.
    void Stop() override;

    // The per-suit operations ignore an index outside 0 to nrOfSuits - 1.
    virtual void Connect(int suit);
    virtual void Disconnect(int suit);
    void SetNull(int suit);
    void EnableJumping(int suit, bool on);
    void SetNorth(int suit);
    void EnableUnevenTerrain(int suit, bool on);
    void EnableIgnoreFloor(int suit, bool on);
    // Copies the suit's newest frame; leaves `frame` untouched when the
    // index is out of range.
    void GetFrame(int suit, Frame& frame);
    int GetNrOfSuits();

    // Entry k is the record of suit k; owned by the driver.
    std::vector<SuitRecord*> suits;
    Orv_Mutex driverMutex;
    // As the last Start found it (negative if the library said so); 0 when idle.
    int nrOfSuits;

private:
    bool InRange(int suit) const { return suit >= 0 && suit < nrOfSuits; }
    // The base's stop procedure, then the records freed; or kept, and false,
    // when the worker could not be ended.
    bool EndWorker();
    void DestroyRecords();
    // For a worker that could not be ended: the records leave the list
    // without being freed.
    void KeepRecords();
};
