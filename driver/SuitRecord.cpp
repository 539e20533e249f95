#include "driver/SuitRecord.h"

#include "threading/Orv_AutoMutex.h"

#include <cstring>

SuitRecord::SuitRecord(int i) : index(i), suitHandle(0), open(false) {
    GyroEnumerateSuitInfo(index, &info);
    std::memset(&frame, 0, sizeof frame);
    frameMutex.Create(nullptr);
}

SuitRecord::~SuitRecord() = default;

void SuitRecord::Open() {
    if (open) return;
    suitHandle = GyroOpen(&info, 0, 0);
    if (suitHandle != 0) open = true;
}

void SuitRecord::Close() {
    if (!open) return;
    GyroClose(suitHandle);
    open = false;
}

void SuitRecord::Read() {
    if (!open) return;
    Orv_AutoMutex hold(frameMutex);
    GyroRead(suitHandle, &frame);
}

void SuitRecord::CopyFrame(Frame& out) {
    Orv_AutoMutex hold(frameMutex);
    std::memcpy(&out, &frame, sizeof out);
}

void SuitRecord::SetNull() { GyroSetNull(suitHandle); }

void SuitRecord::SetNorth() { GyroSetNorth(suitHandle); }

void SuitRecord::EnableJumping(bool on) { GyroEnableJumping(suitHandle, on ? 1 : 0); }

void SuitRecord::EnableUnevenTerrain(bool on) { GyroEnableUnevenTerrain(suitHandle, on ? 1 : 0); }

void SuitRecord::EnableIgnoreFloor(bool on) { GyroEnableIgnoreFloor(suitHandle, on ? 1 : 0); }
