#include "platform/Interrupt.h"

#include <atomic>

namespace {

// Set from a signal handler or the console's control thread.
std::atomic<bool> requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "usable from a signal handler");

}  // namespace

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

BOOL WINAPI OnControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    // FALSE hands a second Ctrl-C to the default handler, which ends us.
    return requested.exchange(true) ? FALSE : TRUE;
}

}  // namespace

namespace kx {

void CatchInterrupts() { SetConsoleCtrlHandler(OnControl, TRUE); }

}  // namespace kx

#else

#include <csignal>

namespace {

void OnSignal(int) { requested.store(true); }

}  // namespace

namespace kx {

void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: the second signal takes the default action.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace kx

#endif

namespace kx {

bool InterruptRequested() { return requested.load(); }

}  // namespace kx
