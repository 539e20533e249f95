#include "app/platform/Interrupt.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <cstdlib>

namespace {

// What came first, 0 for nothing: 1 Ctrl-C, 2 Ctrl-Break, 3 a closed pipe.
// Set from the console's control thread.
std::atomic<int> requested{0};

bool Request(int what) {
    int none = 0;
    return requested.compare_exchange_strong(none, what);
}

BOOL WINAPI OnControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    // FALSE hands a second Ctrl-C to the default handler, which ends us.
    if (requested.load() == 1 || requested.load() == 2) return FALSE;
    return Request(event == CTRL_C_EVENT ? 1 : 2) ? TRUE : FALSE;
}

}  // namespace

namespace kx {

void CatchInterrupts() { SetConsoleCtrlHandler(OnControl, TRUE); }

bool InterruptRequested() { return requested.load() != 0; }

const char* InterruptName() {
    static const char* const names[] = {nullptr, "Ctrl-C", "Ctrl-Break", "a closed pipe"};
    return names[requested.load()];
}

// As a Linux shell counts SIGINT and SIGPIPE.
int InterruptExitCode() { return requested.load() == 3 ? 141 : 130; }

void OutputClosed() { Request(3); }

void ExitNow(int code) {
    // Not ExitProcess: it would run the libraries' detach code beside a
    // thread that died holding their locks.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    std::_Exit(code);
}

}  // namespace kx
