#include "platform/Interrupt.h"

#include <atomic>
#include <csignal>

namespace {

// Set from a signal handler.
std::atomic<bool> requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "usable from a signal handler");

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

bool InterruptRequested() { return requested.load(); }

}  // namespace kx
