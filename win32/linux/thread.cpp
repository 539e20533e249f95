// Threads for the Linux Win32 layer: _beginthreadex, bounded waits, handles
// and Sleep. How a thread is ended by force is terminate.cpp's.
#include "win32/linux/thread_object.h"

#include <sys/syscall.h>
#include <unistd.h>
#include <cerrno>
#include <ctime>

namespace kx {

thread_local ThreadState tls;

namespace {

std::atomic<DWORD> nextThreadId{0x1000};

DWORD NewThreadId() { return nextThreadId.fetch_add(4, std::memory_order_relaxed); }

void* ThreadMain(void* argument) {
    auto* t = static_cast<ThreadObject*>(argument);
    t->kernelId.store(static_cast<pid_t>(syscall(SYS_gettid)));
    tls.self = t;
    tls.critical = 0;
    if (sigsetjmp(t->exitJump, 1) == 0) {
        const DWORD result = t->start(t->argument);
        tls.critical = 1;  // past the body: a late kill must not jump back into it
        std::lock_guard<std::mutex> guard(t->lock);
        t->bodyReturned = true;
        t->bodyResult = result;
    }
    // Returned, or jumped here by a kill. Nothing below allocates.
    const bool bareExit = t->jumpedFromRuntime != 0;
    ForgetHeldMutexesForSanitizer();
    tls.self = nullptr;
    SetExitAndSignal(t, bareExit);
    if (bareExit) {
        // The kernel still marks the robust mutexes it held as abandoned and
        // wakes the joiner; the runtime's thread clean-up is skipped.
        syscall(SYS_exit, 0);
    }
    t->Release();
    return nullptr;
}

void JoinOnce(ThreadObject* t) {
    std::lock_guard<std::mutex> guard(t->joinLock);
    if (!t->joined && !t->detached) {
        pthread_join(t->pthread, nullptr);
        t->joined = true;
    }
}

}  // namespace

void SetExitAndSignal(ThreadObject* t, bool bareExit) {
    {
        std::lock_guard<std::mutex> guard(t->lock);
        t->exitCode = t->bodyReturned ? t->bodyResult : t->killCode.load();
        if (t->exitCode == STILL_ACTIVE) t->exitCode = 0;
        t->leftByBareExit = bareExit;
        t->ended = true;
    }
    t->endedSignal.notify_all();
}

void TerminationPoint() {
    ThreadState& s = tls;
    if (s.self != nullptr && s.critical == 0 &&
        s.self->killRequested.load(std::memory_order_acquire)) {
        s.critical = 1;
        siglongjmp(s.self->exitJump, 1);
    }
}

LayerSection::LayerSection() { ++tls.critical; }

LayerSection::~LayerSection() { --tls.critical; }

std::int64_t MonotonicNowNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

DWORD WaitThread(KernelObject* object, DWORD milliseconds) {
    ThreadObject* t = AsThread(object);
    const std::int64_t deadline =
        milliseconds == INFINITE ? INT64_MAX : MonotonicNowNs() + std::int64_t(milliseconds) * 1000000;
    for (;;) {
        {
            LayerSection section;
            std::unique_lock<std::mutex> guard(t->lock);
            if (t->ended) break;
            const std::int64_t left = deadline - MonotonicNowNs();
            if (left <= 0) return WAIT_TIMEOUT;
            // Sliced, so that a waiter that is itself being terminated notices.
            const std::int64_t slice = left < 10000000 ? left : 10000000;
            t->endedSignal.wait_for(guard, std::chrono::nanoseconds(slice));
            if (t->ended) break;
        }
        TerminationPoint();
    }
    JoinOnce(t);
    return WAIT_OBJECT_0;
}

void ThreadHandleClosed(KernelObject* object) {
    ThreadObject* t = AsThread(object);
    bool join = false;
    {
        std::lock_guard<std::mutex> guard(t->lock);
        if (--t->handles > 0) return;
        if (t->ended) {
            join = true;
        } else {
            // Still running with no handle left: it cleans up after itself.
            std::lock_guard<std::mutex> joinGuard(t->joinLock);
            if (!t->joined) {
                pthread_detach(t->pthread);
                t->detached = true;
            }
        }
    }
    if (join) JoinOnce(t);
}

void ThreadHandleDuplicated(KernelObject* object) {
    ThreadObject* t = AsThread(object);
    std::lock_guard<std::mutex> guard(t->lock);
    ++t->handles;
}

}  // namespace kx

using namespace kx;

std::uintptr_t _beginthreadex(void*, unsigned stackSize, unsigned(__stdcall* start)(void*),
                              void* argument, unsigned flags, unsigned* threadId) {
    if (start == nullptr || flags != 0) {
        errno = EINVAL;
        return 0;
    }
    LayerSection section;
    InstallKillHandler();
    auto* t = new ThreadObject;
    t->start = start;
    t->argument = argument;
    t->id = NewThreadId();
    t->AddRef();  // the thread's own reference

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    if (stackSize != 0) {
        const size_t size = stackSize < PTHREAD_STACK_MIN ? PTHREAD_STACK_MIN : stackSize;
        pthread_attr_setstacksize(&attributes, size);
    }
    const int rc = pthread_create(&t->pthread, &attributes, ThreadMain, t);
    pthread_attr_destroy(&attributes);
    if (rc != 0) {
        delete t;
        errno = rc;
        return 0;
    }
    if (threadId != nullptr) *threadId = t->id;
    return reinterpret_cast<std::uintptr_t>(NewHandle(t));
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    KernelObject* object = Resolve(thread, ObjectKind::Thread);
    if (object == nullptr || exitCode == nullptr) return FALSE;
    ThreadObject* t = AsThread(object);
    LayerSection section;
    std::lock_guard<std::mutex> guard(t->lock);
    *exitCode = t->ended ? t->exitCode : STILL_ACTIVE;
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        TerminationPoint();
        return;
    }
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
        TerminationPoint();
    }
    TerminationPoint();
}
