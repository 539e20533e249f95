// TerminateThread for the Linux Win32 layer: ends a thread wherever it is,
// as Windows does.
//
// A private signal makes the thread jump back to its start routine
// (siglongjmp), leaving every frame it was in without unwinding them; the
// robust mutexes it held become abandoned. Measured on this kind of
// machine, such a jump is safe anywhere outside the C runtime, and inside
// it while the thread waits in the kernel. Runtime code may hold one of the
// runtime's own locks (the allocator's, above all), or be half way through
// changing shared state: a thread caught there is single-stepped until it
// leaves, for a bounded time (below). Past the bound it jumps from where it
// is, unless its frames pass through the allocator or a condition
// variable's calls: then it is followed out of those alone, and past a last
// bound it leaves by a bare exit, so that the runtime's thread clean-up
// cannot block on an arena lock it holds; its stack (1 MB), its
// thread-local data and its malloc arena stay behind. Every other end lets
// that clean-up run.
//
// Like Windows, a thread ended this way runs none of its libraries'
// per-thread exit code, and owns nothing it was waiting for: a condition
// wait's mutex, which glibc's clean-up takes again during the jump, is
// released (forced_exit.cpp). Like Windows, what it held stays held: a runtime
// lock held across a blocking call (stdio's in a stalled fwrite, the
// loader's in a dlopen or inside a dl_iterate_phdr callback) blocks the
// next caller for good.
//
// TerminateThread returns TRUE once the kernel thread is gone, so the
// mutexes it held already count as abandoned. It returns FALSE after two
// seconds when the thread cannot be reached: it blocks the signal, or keeps
// it from being delivered. Such a thread is still ended later, at its next
// call into this layer or wherever a late signal finds it safe to leave.
#include "win32/linux/runtime_facts.h"
#include "win32/linux/signals.h"
#include "win32/linux/thread_object.h"

#include <algorithm>
#include <ctime>

namespace kx {
namespace {

// How long TerminateThread waits for a thread to leave the C runtime before
// ending it where it is: until the thread has had kPreferSafeCpuMs of processor
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
// A thread still inside a guarded call then (runtime_facts.h) is followed
// until kInsideGuardedCallMs, and only then ended there.
constexpr int kInsideGuardedCallMs = 1500;
constexpr int kGiveUpMs = 2000;
// From leaving the caller's code to the kernel thread's end: the runtime's
// own thread clean-up.
constexpr int kLeavingMs = 500;
// A signal that went unseen (blocked, or lost to another handler) is sent
// again this often; one that was seen, at once.
constexpr int kResendMs = 20;

constexpr std::int64_t kMs = 1000000;

std::int64_t ThreadCpuNs(pthread_t thread) {
    clockid_t clock;
    timespec used;
    if (pthread_getcpuclockid(thread, &clock) != 0 || clock_gettime(clock, &used) != 0) return 0;
    return static_cast<std::int64_t>(used.tv_sec) * 1000000000 + used.tv_nsec;
}

// Signals the thread until it has left the caller's code, or until
// `giveUpAt`; checked every millisecond.
bool AwaitEnded(ThreadObject* t, std::int64_t start, std::int64_t giveUpAt) {
    const std::int64_t cpuStart = ThreadCpuNs(t->pthread);
    unsigned sent = 0;
    std::int64_t sentAt = 0;
    for (;;) {
        LayerSection section;
        std::unique_lock<std::mutex> guard(t->lock);
        if (t->ended) return true;
        const std::int64_t now = MonotonicNowNs();
        if (now >= giveUpAt) return false;
        if (now - start >= kPreferSafeMs * kMs || ThreadCpuNs(t->pthread) - cpuStart >= kPreferSafeCpuMs * kMs) {
            t->killAnywhere.store(true, std::memory_order_release);
        }
        if (now - start >= kInsideGuardedCallMs * kMs) t->killInsideGuardedCall.store(true, std::memory_order_release);
        if (t->killSignalsSeen.load(std::memory_order_relaxed) >= sent || now - sentAt >= kResendMs * kMs) {
            TakeKillSignal();
            SendKillSignal(t);
            sent = t->killSignalsSeen.load(std::memory_order_relaxed) + 1;
            sentAt = now;
        }
        t->endedSignal.wait_for(guard, std::chrono::milliseconds(1));
    }
}

}  // namespace

void PrepareForcedEnd() {
    static std::once_flag once;
    std::call_once(once, [] {
        FindRuntimeFacts();
        TakeKillSignal();
    });
}

void TerminationPoint() {
    ThreadState& s = tls;
    ThreadObject* t = s.self;
    if (__builtin_expect(t != nullptr, 0) && s.critical == 0 && t->killRequested.load(std::memory_order_acquire)) {
        t->conditionWaits = 0;
        t->jumpedFromGuardedCall = 0;
        s.critical = 1;
        siglongjmp(t->exitJump, 1);
    }
}

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
    TakeTrapSignal();
    const std::int64_t start = MonotonicNowNs();
    {
        LayerSection section;
        std::lock_guard<std::mutex> guard(t->lock);
        if (!t->ended && !t->killRequested.load()) {
            t->killCode.store(exitCode);
            t->killRequested.store(true, std::memory_order_release);
        }
    }
    const std::int64_t giveUpAt = start + kGiveUpMs * kMs;
    if (!AwaitEnded(t, start, giveUpAt)) {
        // Still wanted ended, but only where it is safe to leave from.
        t->killAnywhere.store(false, std::memory_order_release);
        t->killInsideGuardedCall.store(false, std::memory_order_release);
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!AwaitGone(t, std::max(giveUpAt, MonotonicNowNs() + kLeavingMs * kMs))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}
