// The suit vendor's library: every call the plug-in makes into it.
#pragma once

#include "abi/export.h"
#include "driver/Frame.h"
#include "driver/SuitInfo.h"

#include <cstdint>

// A suit's handle in the library; 0 means none.
typedef std::uint32_t GyroHandle;

extern "C" {

// Starts the library: 0 when it failed, anything else when it started.
KX_SUIT_LIBRARY_API int GyroInit(void);
// The number of suits, addressed afterwards by 0 to that number - 1.
KX_SUIT_LIBRARY_API int GyroFindSuits(void);
KX_SUIT_LIBRARY_API int GyroEnumerateSuitInfo(int suit, SuitInfo* info);
// The suit's handle, or 0 when it failed to open.
KX_SUIT_LIBRARY_API GyroHandle GyroOpen(SuitInfo* info, int reserved1, int reserved2);
// Fills `frame` with the suit's newest sample.
KX_SUIT_LIBRARY_API int GyroRead(GyroHandle suit, Frame* frame);
KX_SUIT_LIBRARY_API int GyroClose(GyroHandle suit);
KX_SUIT_LIBRARY_API int GyroSetNull(GyroHandle suit);
KX_SUIT_LIBRARY_API int GyroSetNorth(GyroHandle suit);
KX_SUIT_LIBRARY_API int GyroEnableJumping(GyroHandle suit, int on);
KX_SUIT_LIBRARY_API int GyroEnableUnevenTerrain(GyroHandle suit, int on);
KX_SUIT_LIBRARY_API int GyroEnableIgnoreFloor(GyroHandle suit, int on);
KX_SUIT_LIBRARY_API int GyroFinish(void);
}
