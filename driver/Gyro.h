// The suit vendor's library: every call the plug-in makes into it.
#pragma once

#include "driver/Frame.h"
#include "driver/SuitInfo.h"
#include "platform/export.h"

#include <cstdint>

// A suit's handle in the library; 0 means none.
typedef std::uint32_t GyroHandle;

extern "C" {

// Starts the library: 0 when it failed, anything else when it started.
GYRO_API int GyroInit(void);
// The number of suits, addressed afterwards by 0 to that number - 1.
GYRO_API int GyroFindSuits(void);
GYRO_API int GyroEnumerateSuitInfo(int suit, SuitInfo* info);
// The suit's handle, or 0 when it failed to open.
GYRO_API GyroHandle GyroOpen(SuitInfo* info, int reserved1, int reserved2);
// Fills `frame` with the suit's newest sample.
GYRO_API int GyroRead(GyroHandle suit, Frame* frame);
GYRO_API int GyroClose(GyroHandle suit);
GYRO_API int GyroSetNull(GyroHandle suit);
GYRO_API int GyroSetNorth(GyroHandle suit);
GYRO_API int GyroEnableJumping(GyroHandle suit, int on);
GYRO_API int GyroEnableUnevenTerrain(GyroHandle suit, int on);
GYRO_API int GyroEnableIgnoreFloor(GyroHandle suit, int on);
GYRO_API int GyroFinish(void);
}
