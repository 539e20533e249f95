#include "platform/Interrupt.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>

namespace {

// Set from the console's control thread.
std::atomic<bool> requested{false};

BOOL WINAPI OnControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    // FALSE hands a second Ctrl-C to the default handler, which ends us.
    return requested.exchange(true) ? FALSE : TRUE;
}

}  // namespace

namespace kx {

void CatchInterrupts() { SetConsoleCtrlHandler(OnControl, TRUE); }

bool InterruptRequested() { return requested.load(); }

}  // namespace kx
