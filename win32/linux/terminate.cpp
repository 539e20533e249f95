// TerminateThread for the Linux Win32 layer.
//
// TerminateThread ends a thread wherever it is, as Windows does. A private
// signal makes the thread jump back to its start routine (siglongjmp): it
// leaves every frame it was in without unwinding them, and the mutexes it
// held become abandoned. Measured on this kind of machine, such a jump is
// safe anywhere outside the C runtime, and inside it while the thread waits
// in the kernel. It is unsafe while the thread runs runtime code that may
// hold one of the runtime's own locks (the allocator's, above all). A thread
// caught there is single-stepped until it leaves that code, for a bounded
// time (below).
//
// Past that bound the thread is ended where it is. What is given up then is
// what Windows gives up: a runtime lock that the thread held stays held, and
// a later call that needs it (a malloc in the same arena, say) blocks for
// good. Such a thread leaves by a bare exit, so that the runtime's own
// thread clean-up cannot block on that lock either; its stack, its
// thread-local data and its unreturned allocations stay behind.
//
// A jump out of a condition wait runs glibc's clean-up for the wait, which
// takes the condition's mutex again: that mutex stays held by the dead
// thread, as a Windows critical section would.
//
// TerminateThread returns TRUE only once the thread has run its last
// instruction, so a stopped worker never outlives its owner's Stop.
#include "win32/linux/thread_object.h"

#include <link.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <csignal>
#include <cstring>
#include <ctime>

namespace kx {
namespace {

// How long TerminateThread waits for a thread to leave the C runtime before
// ending it there: until the thread has had kPreferSafeCpuMs of processor
// time to step out (so a busy machine does not cut its chance short), but
// never past kPreferSafeMs. Stepping out of AddressSanitizer's allocator
// takes up to twenty times longer. Past kGiveUpMs it gives up.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kPreferSafeCpuMs = 600;
constexpr int kPreferSafeMs = 1200;
#else
constexpr int kPreferSafeCpuMs = 30;
constexpr int kPreferSafeMs = 80;
#endif
constexpr int kGiveUpMs = 2000;

int KillSignal() { return SIGRTMIN + 5; }

std::int64_t ThreadCpuNs(pthread_t thread) {
    clockid_t clock;
    timespec used;
    if (pthread_getcpuclockid(thread, &clock) != 0 || clock_gettime(clock, &used) != 0) return 0;
    return static_cast<std::int64_t>(used.tv_sec) * 1000000000 + used.tv_nsec;
}

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer runs a handler only where the thread enters one of its
// interceptors or blocks: a safe point, whatever the saved context says.
constexpr bool kSignalsAtSafePoints = true;
#else
constexpr bool kSignalsAtSafePoints = false;
#endif

#if defined(__x86_64__)
constexpr bool kCanSingleStep = !kSignalsAtSafePoints;
#else
constexpr bool kCanSingleStep = false;
#endif

struct CodeRange {
    std::uintptr_t lo = 0;
    std::uintptr_t hi = 0;
};

// The executable code of the C and C++ runtimes (and of the sanitizers',
// which hold the allocator in their builds).
struct RuntimeCode {
    static constexpr int kMax = 16;
    CodeRange ranges[kMax];
    int count = 0;

    const CodeRange* Find(std::uintptr_t pc) const {
        for (int i = 0; i < count; ++i) {
            if (pc >= ranges[i].lo && pc < ranges[i].hi) return &ranges[i];
        }
        return nullptr;
    }
};

// Found once, before the first kill signal, and only read afterwards.
RuntimeCode runtimeCode;

bool IsRuntimeName(const char* path) {
    const char* base = std::strrchr(path, '/');
    base = base != nullptr ? base + 1 : path;
    static const char* const kPrefixes[] = {"libc.so",    "ld-linux",   "libstdc++.so", "libgcc_s.so",
                                            "libasan.so", "libtsan.so", "libubsan.so",  "liblsan.so",
                                            "libpthread.so"};
    for (const char* prefix : kPrefixes) {
        if (std::strncmp(base, prefix, std::strlen(prefix)) == 0) return true;
    }
    return false;
}

void FindRuntimeCode() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) -> int {
            if (info->dlpi_name == nullptr || !IsRuntimeName(info->dlpi_name)) return 0;
            for (int i = 0; i < info->dlpi_phnum && runtimeCode.count < RuntimeCode::kMax; ++i) {
                const ElfW(Phdr)& ph = info->dlpi_phdr[i];
                if (ph.p_type != PT_LOAD || !(ph.p_flags & PF_X)) continue;
                const std::uintptr_t lo = info->dlpi_addr + ph.p_vaddr;
                runtimeCode.ranges[runtimeCode.count++] = CodeRange{lo, lo + ph.p_memsz};
            }
            return 0;
        },
        nullptr);
}

#if defined(__x86_64__)
constexpr greg_t kTrapFlag = 0x100;

std::uintptr_t ProgramCounter(const ucontext_t* uc) {
    return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
}

// Interrupted while blocked in a system call: the instruction before is
// `syscall` and the call was cut short with EINTR. A thread waiting in the
// kernel holds none of the runtime's locks that are worth fearing (it is
// waiting for one, if anything).
bool WaitingInKernel(const ucontext_t* uc, const CodeRange& code) {
    const std::uintptr_t pc = ProgramCounter(uc);
    if (pc < code.lo + 2) return false;
    const auto* before = reinterpret_cast<const unsigned char*>(pc - 2);
    return before[0] == 0x0F && before[1] == 0x05 && uc->uc_mcontext.gregs[REG_RAX] == -EINTR;
}

// Whether stepping should stop before the next instruction: a system call
// might block SIGTRAP, and a trap that finds it blocked kills the process;
// a repeated string instruction (a large memset) traps once per element.
// The killer's next signal takes up the chase after either.
bool StepStopsBefore(const ucontext_t* uc, const CodeRange& code) {
    const std::uintptr_t pc = ProgramCounter(uc);
    if (pc + 3 > code.hi) return true;
    const auto* next = reinterpret_cast<const unsigned char*>(pc);
    if (next[0] == 0x0F && next[1] == 0x05) return true;
    if (next[0] != 0xF2 && next[0] != 0xF3) return false;
    unsigned char op = next[1];
    if (op >= 0x40 && op <= 0x4F) op = next[2];  // REX
    return (op >= 0xA4 && op <= 0xA7) || (op >= 0xAA && op <= 0xAF) || (op >= 0x6C && op <= 0x6F);
}

void SetSingleStep(ucontext_t* uc, bool on) {
    if (on) {
        uc->uc_mcontext.gregs[REG_EFL] |= kTrapFlag;
    } else {
        uc->uc_mcontext.gregs[REG_EFL] &= ~kTrapFlag;
    }
}
#else
std::uintptr_t ProgramCounter(const ucontext_t* uc) {
#if defined(__i386__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.pc);
#else
#error "program counter of this architecture"
#endif
}
bool WaitingInKernel(const ucontext_t*, const CodeRange&) { return false; }
bool StepStopsBefore(const ucontext_t*, const CodeRange&) { return true; }
void SetSingleStep(ucontext_t*, bool) {}
#endif

// The kill signal, and the single-step traps that follow a thread out of
// the runtime.
void KillSignalHandler(int, siginfo_t*, void* context) {
    auto* uc = static_cast<ucontext_t*>(context);
    ThreadState& s = tls;
    ThreadObject* t = s.self;
    if (t == nullptr || s.critical != 0 || !t->killRequested.load(std::memory_order_acquire)) {
        // Layer bookkeeping, or no kill: the killer signals again later.
        SetSingleStep(uc, false);
        return;
    }
    const CodeRange* runtime = kSignalsAtSafePoints ? nullptr : runtimeCode.Find(ProgramCounter(uc));
    const bool safe = runtime == nullptr || WaitingInKernel(uc, *runtime);
    if (!safe && !t->killAnywhere.load(std::memory_order_acquire)) {
        // Followed out of the runtime one instruction at a time.
        SetSingleStep(uc, kCanSingleStep && !StepStopsBefore(uc, *runtime));
        return;
    }
    t->jumpedFromRuntime = runtime != nullptr && !safe;
    s.critical = 1;
    siglongjmp(t->exitJump, 1);
}

struct sigaction previousTrapAction;

// A trap that is not ours (a breakpoint instruction, say) gets what it
// would have got without us.
void TrapHandler(int signal, siginfo_t* info, void* context) {
    ThreadObject* t = tls.self;
    if (t != nullptr && t->killRequested.load(std::memory_order_acquire)) {
        KillSignalHandler(signal, info, context);
        return;
    }
    if (previousTrapAction.sa_flags & SA_SIGINFO) {
        if (previousTrapAction.sa_sigaction != nullptr) previousTrapAction.sa_sigaction(signal, info, context);
        return;
    }
    if (previousTrapAction.sa_handler == SIG_IGN) return;
    if (previousTrapAction.sa_handler != SIG_DFL) {
        previousTrapAction.sa_handler(signal);
        return;
    }
    struct sigaction fallback;
    std::memset(&fallback, 0, sizeof fallback);
    fallback.sa_handler = SIG_DFL;
    sigaction(SIGTRAP, &fallback, nullptr);
    raise(SIGTRAP);
}

}  // namespace

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

namespace {

// Only once a thread is to be single-stepped: programs that never terminate
// a thread keep their SIGTRAP as it was.
void InstallTrapHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        FindRuntimeCode();
        if (!kCanSingleStep) return;
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_sigaction = TrapHandler;
        action.sa_flags = SA_SIGINFO;
        // A kill signal inside this handler would see the handler's own
        // code, not the runtime code that the trap interrupted.
        sigemptyset(&action.sa_mask);
        sigaddset(&action.sa_mask, KillSignal());
        sigaction(SIGTRAP, &action, &previousTrapAction);
    });
}

}  // namespace
}  // namespace kx

using namespace kx;

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
    InstallTrapHandler();
    {
        LayerSection section;
        std::lock_guard<std::mutex> guard(t->lock);
        if (t->ended) return TRUE;
        if (!t->killRequested.load()) {
            t->killCode.store(exitCode);
            t->killRequested.store(true, std::memory_order_release);
        }
    }
    // Signalled again every millisecond: a thread in layer bookkeeping, or
    // one that a sanitizer keeps from stepping, is caught at a later look.
    const std::int64_t start = MonotonicNowNs();
    const std::int64_t cpuStart = ThreadCpuNs(t->pthread);
    bool ended = false;
    bool bareExit = false;
    for (;;) {
        LayerSection section;
        std::unique_lock<std::mutex> guard(t->lock);
        if (t->ended) {
            ended = true;
            bareExit = t->leftByBareExit;
            break;
        }
        const std::int64_t elapsedMs = (MonotonicNowNs() - start) / 1000000;
        if (elapsedMs >= kGiveUpMs) break;
        if (elapsedMs >= kPreferSafeMs || (ThreadCpuNs(t->pthread) - cpuStart) / 1000000 >= kPreferSafeCpuMs) {
            t->killAnywhere.store(true, std::memory_order_release);
        }
        pthread_kill(t->pthread, KillSignal());
        t->endedSignal.wait_for(guard, std::chrono::milliseconds(1));
    }
    if (!ended) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (bareExit) {
        // Gone from the kernel before we return: until then the mutexes it
        // held still look held by a live thread.
        const std::int64_t bound = MonotonicNowNs() + 100000000;
        while (syscall(SYS_tgkill, getpid(), t->kernelId.load(), 0) == 0 && MonotonicNowNs() < bound) {
            sched_yield();
        }
        // Never joined: a join would hand its stack, which still holds the
        // dead thread's thread-specific values, to the next new thread. The
        // stack is left behind; the thread's own reference is dropped here.
        {
            std::lock_guard<std::mutex> joinGuard(t->joinLock);
            t->joined = true;
        }
        t->Release();
    }
    return TRUE;
}
