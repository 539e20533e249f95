// A thread of the Linux Win32 layer: what its handles, its waiters and the
// killer that ends it share.
#pragma once

#include "win32/linux/internal.h"

#include <limits.h>
#include <pthread.h>
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

    std::mutex lock;  // guards the fields below up to joinLock
    std::condition_variable endedSignal;
    int handles = 1;
    // Out of the caller's code for good, by returning or by a kill; the
    // kernel thread may still be on its way out.
    bool ended = false;
    DWORD exitCode = STILL_ACTIVE;
    // Left without the runtime's thread clean-up: never joined.
    bool leftBare = false;

    std::mutex joinLock;  // guards the two below
    bool gone = false;    // the kernel thread has exited
    bool detached = false;

    // Set by TerminateThread; read by the thread's signal handlers.
    std::atomic<bool> killRequested{false};
    std::atomic<bool> killAnywhere{false};
    std::atomic<bool> killInsideGuardedCall{false};
    std::atomic<DWORD> killCode{0};
    std::atomic<unsigned> killSignalsSeen{0};

    // Written by the thread itself: at its start, and by its signal handler
    // just before the jump.
    std::uintptr_t stackTop = 0;  // the trampoline's frame: the caller's frames lie below
    // While the stack pointer is below this, the thread is inside a guarded
    // call (runtime_facts.h; 0: not known to be).
    std::uintptr_t guardedFrameEnd = 0;
    unsigned char keysSetAtStart[PTHREAD_KEYS_MAX / 8] = {};
    static constexpr int kMaxConditionWaits = 4;
    pthread_mutex_t* conditionWaitMutexes[kMaxConditionWaits] = {};
    int conditionWaits = 0;
    volatile sig_atomic_t jumpedFromGuardedCall = 0;
    sigjmp_buf exitJump;
};

// Every thread's own (zero where the layer did not start it). Read by
// signal handlers, so of the initial-exec model: reached through the thread
// pointer, never allocated on first use; and plain data, so that no access
// calls an initialisation function.
struct ThreadState {
    ThreadObject* self;
    int critical;  // layer bookkeeping in progress, or on the way out
};
extern __thread ThreadState tls __attribute__((tls_model("initial-exec")));

inline ThreadObject* AsThread(KernelObject* o) { return static_cast<ThreadObject*>(o); }

// What a thread ended by force does on its way out (forced_exit.cpp).
// At the start: which thread-specific values the runtimes have set already.
void NoteKeysSetAtStart(ThreadObject* t);
// Releases the mutexes of the condition waits it was jumped out of.
void ReleaseConditionWaitMutexes(ThreadObject* t);
// Keeps the runtime's thread clean-up from running its libraries'
// per-thread exit code.
void SkipLibraryExitCode(ThreadObject* t);

// Waits until the kernel thread has exited, or until `deadline`
// (MonotonicNowNs); false when it is still there.
bool AwaitGone(ThreadObject* t, std::int64_t deadline);

}  // namespace kx
