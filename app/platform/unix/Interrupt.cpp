#include "app/platform/Interrupt.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

namespace {

struct Caught {
    int number;
    const char* name;
};
// Every signal whose default would end the program and that someone may
// send to end a run; the faults (SIGSEGV, SIGBUS, ...) are left alone.
constexpr Caught kCaught[] = {{SIGINT, "Ctrl-C"},     {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"},
                              {SIGQUIT, "SIGQUIT"},   {SIGALRM, "SIGALRM"}, {SIGUSR1, "SIGUSR1"},
                              {SIGUSR2, "SIGUSR2"},   {SIGXCPU, "SIGXCPU"}, {SIGVTALRM, "SIGVTALRM"},
                              {SIGPIPE, "SIGPIPE"}};

// The first signal's number; set from a signal handler.
std::atomic<int> requested{0};
static_assert(std::atomic<int>::is_always_lock_free, "usable from a signal handler");

bool Request(int number) {
    int none = 0;
    return requested.compare_exchange_strong(none, number);
}

// A second request of any kind, when the clean ending hangs or the user
// insists: the signal's default action, once this handler returns.
void OnSignal(int number) {
    if (Request(number)) return;
    signal(number, SIG_DFL);
    raise(number);
}

}  // namespace

namespace kx {

void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const Caught& c : kCaught) {
        struct sigaction old {};
        sigaction(c.number, nullptr, &old);
        // A hang-up the program was started to ignore (nohup) stays ignored.
        if (c.number == SIGHUP && old.sa_handler == SIG_IGN) continue;
        if (c.number != SIGPIPE) sigaction(c.number, &action, nullptr);
    }
    // A closed pipe must not end the program before it cleans up, and a
    // socket of a frame consumer is not our standard output.
    std::signal(SIGPIPE, SIG_IGN);
    // A file over the size limit fails its write instead, which is reported.
    std::signal(SIGXFSZ, SIG_IGN);
}

bool InterruptRequested() { return requested.load() != 0; }

const char* InterruptName() {
    const int number = requested.load();
    for (const Caught& c : kCaught) {
        if (c.number == number) return c.name;
    }
    return nullptr;
}

int InterruptExitCode() { return 128 + requested.load(); }

void OutputClosed() { (void)Request(SIGPIPE); }

void ExitNow(int code) { _exit(code); }

}  // namespace kx
