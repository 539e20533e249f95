// Threads for the Linux Win32 layer: _beginthreadex, bounded waits, handles
// and Sleep. Every thread starts in ThreadMain, and a thread ended by force
// (terminate.cpp) jumps back there to leave.
#include "win32/linux/signals.h"
#include "win32/linux/thread_object.h"

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <ctime>
#include <thread>

namespace kx {

__thread ThreadState tls __attribute__((tls_model("initial-exec")));

namespace {

std::atomic<DWORD> nextThreadId{0x1000};

DWORD NewThreadId() { return nextThreadId.fetch_add(4, std::memory_order_relaxed); }

// What Windows gives a thread created with stack size 0: the program's
// default reserve, 1 MB.
constexpr size_t kDefaultStackSize = 1 << 20;

enum class Way { Returned, Ended, EndedBare };

// Marks the thread out of the caller's code and wakes its waiters. The
// notification is made under the lock, so that a thread leaving without a
// reference of its own never touches the object after a waiter saw `ended`.
void SetEnded(ThreadObject* t, DWORD code, Way way) {
    std::lock_guard<std::mutex> guard(t->lock);
    t->exitCode = code == STILL_ACTIVE ? 0 : code;
    t->leftBare = way == Way::EndedBare;
    t->ended = true;
    t->endedSignal.notify_all();
}

void Leave(ThreadObject* t, DWORD code, Way way) {
    if (way != Way::Returned) {
        BlockKillSignal();
        ReleaseConditionWaitMutexes(t);
    }
    if (way == Way::Ended) SkipLibraryExitCode(t);
    ForgetHeldMutexesForSanitizer();
    tls.self = nullptr;
    if (way == Way::EndedBare) {
        SetEnded(t, code, way);
        // The kernel still marks the robust mutexes it held as abandoned.
        // The thread's own reference goes with its last handle: a delete
        // here would enter the allocator, whose lock it may hold.
        syscall(SYS_exit, 0);
    }
    SetEnded(t, code, way);
    t->Release();
}

void* ThreadMain(void* argument) {
    auto* t = static_cast<ThreadObject*>(argument);
    UnblockKillSignals();
    NoteKeysSetAtStart(t);
    t->stackTop = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    ThreadState& s = tls;
    s.self = t;
    s.critical = 1;  // no jump before there is somewhere to jump to
    if (sigsetjmp(t->exitJump, 1) == 0) {
        s.critical = 0;
        const DWORD result = t->start(t->argument);
        s.critical = 1;  // past the body: a late kill must not jump back into it
        Leave(t, result, Way::Returned);
    } else {
        Leave(t, t->killCode.load(), t->jumpedFromGuardedCall ? Way::EndedBare : Way::Ended);
    }
    return nullptr;
}

// Whether the kernel thread is gone, reaping it if it is.
bool Reaped(ThreadObject* t) {
    std::lock_guard<std::mutex> joinGuard(t->joinLock);
    if (t->gone || t->detached) return t->gone;
    bool bare;
    {
        std::lock_guard<std::mutex> guard(t->lock);
        bare = t->leftBare;
    }
    if (bare) {
        // Never joined: a join would hand its stack, still holding its
        // thread-specific values, to the next new thread. The kernel clears
        // the descriptor's thread id when the thread exits.
        clockid_t clock;
        t->gone = pthread_getcpuclockid(t->pthread, &clock) == ESRCH;
    } else {
        t->gone = pthread_tryjoin_np(t->pthread, nullptr) == 0;
    }
    return t->gone;
}

}  // namespace

bool AwaitGone(ThreadObject* t, std::int64_t deadline) {
    for (;;) {
        if (Reaped(t)) return true;
        const std::int64_t left = deadline - MonotonicNowNs();
        if (left <= 0) return false;
        std::unique_lock<std::mutex> guard(t->lock);
        if (!t->ended) {
            t->endedSignal.wait_for(guard, std::chrono::nanoseconds(left));
            continue;
        }
        guard.unlock();
        // On its way out: the kernel thread ends within microseconds.
        std::this_thread::sleep_for(std::chrono::nanoseconds(std::min<std::int64_t>(left, 100000)));
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
        bool gone;
        {
            // Sliced, so that a waiter that is itself being terminated notices.
            LayerSection section;
            gone = AwaitGone(t, std::min(deadline, MonotonicNowNs() + 10000000));
        }
        if (gone) return WAIT_OBJECT_0;
        if (MonotonicNowNs() >= deadline) return WAIT_TIMEOUT;
        TerminationPoint();
    }
}

void ThreadHandleClosed(KernelObject* object) {
    ThreadObject* t = AsThread(object);
    bool bare;
    {
        LayerSection section;
        std::lock_guard<std::mutex> guard(t->lock);
        if (--t->handles > 0) return;
        bare = t->leftBare;
    }
    if (bare) {
        t->Release();  // the reference that the thread could not drop itself
        return;
    }
    // Running, or on its way out, with no handle left: it cleans up after
    // itself.
    std::lock_guard<std::mutex> joinGuard(t->joinLock);
    if (!t->gone) {
        pthread_detach(t->pthread);
        t->detached = true;
    }
}

void ThreadHandleDuplicated(KernelObject* object) {
    ThreadObject* t = AsThread(object);
    LayerSection section;
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
    // Before any thread of ours can be ended.
    PrepareForcedEnd();
    auto* t = new ThreadObject;
    t->start = start;
    t->argument = argument;
    t->id = NewThreadId();
    t->AddRef();  // the thread's own reference

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, stackSize == 0 ? kDefaultStackSize
                                                          : std::max<size_t>(stackSize, PTHREAD_STACK_MIN));
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
    const bool gone = Reaped(t);
    std::lock_guard<std::mutex> guard(t->lock);
    *exitCode = gone ? t->exitCode : STILL_ACTIVE;
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    TerminationPoint();
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
