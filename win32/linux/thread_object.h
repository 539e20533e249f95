// A thread of the Linux Win32 layer: what its handles, its waiters and the
// killer that ends it share.
#pragma once

#include "win32/linux/internal.h"

#include <pthread.h>
#include <sys/types.h>
#include <csetjmp>
#include <csignal>
#include <condition_variable>
#include <mutex>

namespace kx {

struct ThreadObject final : KernelObject {
    ThreadObject() : KernelObject(ObjectKind::Thread) {}

    pthread_t pthread{};
    unsigned(__stdcall* start)(void*) = nullptr;
    void* argument = nullptr;
    DWORD id = 0;

    std::mutex lock;  // guards the fields below up to joined
    std::condition_variable endedSignal;
    int handles = 1;
    bool ended = false;
    bool bodyReturned = false;
    DWORD bodyResult = 0;
    DWORD exitCode = STILL_ACTIVE;
    bool detached = false;
    // Ended inside the runtime: its own reference is released by the killer.
    bool leftByBareExit = false;

    std::mutex joinLock;
    bool joined = false;

    std::atomic<pid_t> kernelId{0};
    std::atomic<bool> killRequested{false};
    std::atomic<bool> killAnywhere{false};
    std::atomic<DWORD> killCode{0};
    // Set by the signal handler just before it jumps out of runtime code.
    volatile sig_atomic_t jumpedFromRuntime = 0;
    sigjmp_buf exitJump;
};

// Touched when a thread starts, so the signal handler never triggers the lazy
// allocation of a dlopen'ed module's thread-local block.
struct ThreadState {
    ThreadObject* self = nullptr;
    int critical = 0;
};
extern thread_local ThreadState tls;

inline ThreadObject* AsThread(KernelObject* o) { return static_cast<ThreadObject*>(o); }

// Marks the thread ended, with its exit code, and wakes its waiters.
void SetExitAndSignal(ThreadObject* t, bool bareExit);

}  // namespace kx
