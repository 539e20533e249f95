// The system's own pipe calls, not the C runtime's: its _read holds a lock
// on the descriptor, which a reader terminated inside it would keep, and
// closing the descriptor would then wait for good.
#include "kestrion/Pipe.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace kestrion {

bool OpenPipe(PipeEnd ends[2]) {
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, nullptr, 0)) return false;
    ends[0] = reinterpret_cast<PipeEnd>(read);
    ends[1] = reinterpret_cast<PipeEnd>(write);
    return true;
}

void ReadOneByte(PipeEnd end) {
    char byte;
    DWORD got = 0;
    ReadFile(reinterpret_cast<HANDLE>(end), &byte, 1, &got, nullptr);
}

void ClosePipeEnd(PipeEnd end) {
    if (end != kNoPipe) CloseHandle(reinterpret_cast<HANDLE>(end));
}

}  // namespace kestrion
