// Threads for the Linux Win32 layer: _beginthreadex, bounded waits,
// TerminateThread and Sleep.
//
// Ending a thread from outside is the hard part. Measured on this kind of
// machine: asynchronous cancellation aborts C++ code, and exiting from a
// signal handler at an arbitrary point deadlocks inside malloc. So a thread
// is ended in one of two safe ways:
//  - at a termination point: our own Sleep and waits, or a kill signal that
//    interrupted the thread while it ran code of the module that started it
//    or of the main program, never inside a system library and never inside
//    layer bookkeeping. The thread jumps back to its start routine and
//    returns from there, without unwinding the frames it leaves (as Windows
//    does, so mutexes it held become abandoned).
//  - by deferred cancellation, when it is blocked in a cancellation point of
//    another library (a suit read that never returns): the stack unwinds and
//    the thread exits.
// TerminateThread waits (bounded) until the thread has really gone, so a
// stopped worker never outlives its owner's Stop.
#include "platform/win32_linux_internal.h"

#include <link.h>
#include <pthread.h>
#include <sched.h>
#include <csetjmp>
#include <csignal>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <condition_variable>
#include <mutex>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_ignore_thread_begin();
extern "C" void __tsan_ignore_thread_end();
#endif

namespace kx {
namespace {

struct CodeRange {
    std::uintptr_t lo = 0;
    std::uintptr_t hi = 0;
};

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

    std::mutex joinLock;
    bool joined = false;

    std::atomic<bool> killRequested{false};
    std::atomic<DWORD> killCode{0};
    sigjmp_buf exitJump;
    CodeRange own[2];
    int ownCount = 0;
};

// Touched when a thread starts, so the signal handler never triggers the lazy
// allocation of a dlopen'ed module's thread-local block.
struct ThreadState {
    ThreadObject* self = nullptr;
    int critical = 0;
    DWORD foreignId = 0;
};
thread_local ThreadState tls;

std::atomic<DWORD> nextThreadId{0x1000};

DWORD NewThreadId() { return nextThreadId.fetch_add(4, std::memory_order_relaxed); }

int KillSignal() { return SIGRTMIN + 5; }

std::uintptr_t ProgramCounter(void* context) {
    auto* uc = static_cast<ucontext_t*>(context);
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.pc);
#else
#error "program counter of this architecture"
#endif
}

void KillSignalHandler(int, siginfo_t*, void* context) {
    ThreadState& s = tls;
    ThreadObject* t = s.self;
    if (t == nullptr || s.critical != 0 || !t->killRequested.load(std::memory_order_acquire)) {
        return;
    }
    const std::uintptr_t pc = ProgramCounter(context);
    for (int i = 0; i < t->ownCount; ++i) {
        if (pc >= t->own[i].lo && pc < t->own[i].hi) {
            s.critical = 1;
            siglongjmp(t->exitJump, 1);
        }
    }
    // Elsewhere (a system library, say): TerminateThread signals again shortly.
}

void InstallKillHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_sigaction = KillSignalHandler;
        action.sa_flags = SA_SIGINFO;  // no SA_RESTART: a killed sleeper must wake
        sigemptyset(&action.sa_mask);
        sigaction(KillSignal(), &action, nullptr);
    });
}

// The executable segments of the module holding `address` (or of the main
// program when `address` is 0).
CodeRange ModuleCode(std::uintptr_t address) {
    struct Search {
        std::uintptr_t address;
        CodeRange found;
        bool first = true;
    } search{address, {}};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            auto* s = static_cast<Search*>(data);
            const bool wantMain = s->address == 0;
            const bool isMain = s->first;
            s->first = false;
            CodeRange code;
            bool contains = false;
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& ph = info->dlpi_phdr[i];
                if (ph.p_type != PT_LOAD) continue;
                const std::uintptr_t lo = info->dlpi_addr + ph.p_vaddr;
                const std::uintptr_t hi = lo + ph.p_memsz;
                if (!wantMain && s->address >= lo && s->address < hi) contains = true;
                if (ph.p_flags & PF_X) {
                    if (code.lo == 0 || lo < code.lo) code.lo = lo;
                    if (hi > code.hi) code.hi = hi;
                }
            }
            if ((wantMain && isMain) || contains) {
                s->found = code;
                return 1;
            }
            return 0;
        },
        &search);
    return search.found;
}

// A cancellation unwinds through the sanitizers' own interceptor frames,
// which have no cleanups. AddressSanitizer is left with the poisoned
// redzones of the frames that were skipped: clear them. ThreadSanitizer is
// left unable to see the thread's last locks: the thread is ending, so its
// last steps go unrecorded.
void SanitizerIgnoreCancelledThread(bool ignore) {
#if defined(__SANITIZE_ADDRESS__)
    if (ignore) {
        pthread_attr_t attributes;
        void* stack = nullptr;
        size_t size = 0;
        if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
            pthread_attr_getstack(&attributes, &stack, &size);
            pthread_attr_destroy(&attributes);
            char* here = static_cast<char*>(__builtin_frame_address(0));
            if (here > static_cast<char*>(stack)) {
                __asan_unpoison_memory_region(stack, static_cast<size_t>(here - static_cast<char*>(stack)));
            }
        }
    }
#endif
#if defined(__SANITIZE_THREAD__)
    if (ignore) {
        __tsan_ignore_thread_begin();
    } else {
        __tsan_ignore_thread_end();
    }
#else
    (void)ignore;
#endif
}

void SetExitAndSignal(ThreadObject* t) {
    int ignored;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &ignored);
    {
        std::lock_guard<std::mutex> guard(t->lock);
        t->exitCode = t->bodyReturned ? t->bodyResult : t->killCode.load();
        t->ended = true;
        if (t->exitCode == STILL_ACTIVE) t->exitCode = 0;
    }
    t->endedSignal.notify_all();
}

void* ThreadMain(void* argument) {
    auto* t = static_cast<ThreadObject*>(argument);
    tls.self = t;
    tls.critical = 0;
    // Cleared on the two ordinary ways out; still set while a cancellation
    // unwinds this frame.
    volatile bool unwinding = true;
    // Runs when the start routine returns, after a jump from a termination
    // point, and during the unwinding of a cancellation.
    struct Finisher {
        ThreadObject* t;
        volatile bool* unwinding;
        ~Finisher() {
            const bool cancelled = *unwinding;
            if (cancelled) SanitizerIgnoreCancelledThread(true);
            tls.critical = 1;
            ForgetHeldMutexesForSanitizer();
            SetExitAndSignal(t);
            tls.self = nullptr;
            t->Release();
            if (cancelled) SanitizerIgnoreCancelledThread(false);
        }
    } finisher{t, &unwinding};
    if (sigsetjmp(t->exitJump, 1) == 0) {
        const DWORD result = t->start(t->argument);
        tls.critical = 1;  // past the body: a late kill must not jump back into it
        std::lock_guard<std::mutex> guard(t->lock);
        t->bodyReturned = true;
        t->bodyResult = result;
    }
    unwinding = false;
    return nullptr;
}

void JoinOnce(ThreadObject* t) {
    std::lock_guard<std::mutex> guard(t->joinLock);
    if (!t->joined && !t->detached) {
        pthread_join(t->pthread, nullptr);
        t->joined = true;
    }
}

ThreadObject* AsThread(KernelObject* o) { return static_cast<ThreadObject*>(o); }

}  // namespace

void TerminationPoint() {
    ThreadState& s = tls;
    if (s.self != nullptr && s.critical == 0 &&
        s.self->killRequested.load(std::memory_order_acquire)) {
        s.critical = 1;
        siglongjmp(s.self->exitJump, 1);
    }
}

LayerSection::LayerSection() {
    ++tls.critical;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &savedCancelState_);
}

LayerSection::~LayerSection() {
    pthread_setcancelstate(savedCancelState_, nullptr);
    --tls.critical;
}

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
            const std::int64_t slice = left < 20000000 ? left : 20000000;
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
    t->own[t->ownCount++] = ModuleCode(reinterpret_cast<std::uintptr_t>(start));
    const CodeRange mainProgram = ModuleCode(0);
    if (mainProgram.lo != t->own[0].lo) t->own[t->ownCount++] = mainProgram;
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

BOOL TerminateThread(HANDLE thread, DWORD exitCode) {
    KernelObject* object = Resolve(thread, ObjectKind::Thread);
    if (object == nullptr) return FALSE;
    ThreadObject* t = AsThread(object);
    if (t == tls.self) {
        t->killCode.store(exitCode);
        t->killRequested.store(true, std::memory_order_release);
        TerminationPoint();
        return FALSE;  // only reached inside layer bookkeeping, which never calls this
    }
    {
        LayerSection section;
        std::lock_guard<std::mutex> guard(t->lock);
        if (t->ended) return TRUE;
        if (!t->killRequested.load()) {
            t->killCode.store(exitCode);
            t->killRequested.store(true, std::memory_order_release);
        }
    }
    pthread_cancel(t->pthread);
    // A thread spinning in its own code is ended by the signal; one blocked in
    // a cancellation point by the cancel; one in our waits at its next slice.
    // Give up after about two seconds rather than hang the caller.
    for (int attempt = 0; attempt < 2000; ++attempt) {
        LayerSection section;
        std::unique_lock<std::mutex> guard(t->lock);
        if (t->ended) break;
        pthread_kill(t->pthread, KillSignal());
        t->endedSignal.wait_for(guard, std::chrono::milliseconds(1));
    }
    return TRUE;
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

DWORD GetCurrentThreadId() {
    ThreadState& s = tls;
    if (s.self != nullptr) return s.self->id;
    if (s.foreignId == 0) s.foreignId = NewThreadId();
    return s.foreignId;
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
    for (;;) {
        int saved;
        // Our own termination point ends a sleeper, not cancellation.
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &saved);
        const int rc = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
        pthread_setcancelstate(saved, nullptr);
        TerminationPoint();
        if (rc != EINTR) return;
    }
}
