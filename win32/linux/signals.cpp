// The signals that end a thread: the kill signal, which makes the thread
// jump back to its start routine from a place it is safe to leave, and the
// single-step traps that first follow it out of runtime code.
//
// The kill signal is a real-time signal, which a library may take for
// itself: ours carry a tag, any other goes to the handler we displaced, and
// the killer takes the signal back whenever it finds it taken. Handlers
// touch only initial-exec thread-local state and memory found beforehand.
#include "win32/linux/machine_context.h"
#include "win32/linux/signals.h"
#include "win32/linux/thread_object.h"

#include <unistd.h>
#include <unwind.h>
#include <cstring>

namespace kx {
namespace {

// The value our kill signals carry.
char killTag;

// What the kill signal did before we took it, for signals that are not
// ours. A slot is written whole before its index is published, and written
// again only eight takes later.
std::mutex foreignLock;
struct sigaction foreignActions[8];
int foreignNext = 0;
std::atomic<int> foreignIndex{-1};

struct sigaction previousTrapAction;

bool IsOurs(const siginfo_t* info) {
    return info != nullptr && info->si_code == SI_QUEUE && info->si_value.sival_ptr == &killTag &&
           info->si_pid == getpid();
}

// Runs what `action` says for a signal that is not ours; `endsByDefault`
// where the default would end the process (a trap), so it still does.
void PassOn(const struct sigaction& action, int signal, siginfo_t* info, void* context, bool endsByDefault) {
    if (action.sa_flags & SA_SIGINFO) {
        if (action.sa_sigaction != nullptr) action.sa_sigaction(signal, info, context);
        return;
    }
    if (action.sa_handler == SIG_IGN) return;
    if (action.sa_handler != SIG_DFL) {
        action.sa_handler(signal);
        return;
    }
    if (!endsByDefault) return;
    struct sigaction fallback;
    std::memset(&fallback, 0, sizeof fallback);
    fallback.sa_handler = SIG_DFL;
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

struct GuardedSearch {
    std::uintptr_t interrupted;  // the interrupted instruction: frames before it are the handler's
    std::uintptr_t top;
    bool reached = false;
    std::uintptr_t insideUntil = 0;
};

// Frames from the interrupted one outwards, until one outside runtime code:
// a guarded call never calls back into its caller's code.
_Unwind_Reason_Code CheckFrame(_Unwind_Context* context, void* argument) {
    auto* search = static_cast<GuardedSearch*>(argument);
    int exact = 0;
    std::uintptr_t pc = _Unwind_GetIPInfo(context, &exact);
    if (!search->reached) {
        search->reached = exact && pc == search->interrupted;
        if (!search->reached) return _URC_NO_REASON;
    } else if (!exact) {
        --pc;  // a return address: the call before it
    }
    const std::uintptr_t cfa = _Unwind_GetCFA(context);
    if (cfa >= search->top || runtimeFacts.FindRuntime(pc) == nullptr) return _URC_END_OF_STACK;
    if (runtimeFacts.InGuardedCall(pc)) search->insideUntil = cfa;
    return _URC_NO_REASON;
}

// Whether the thread is inside a guarded call: whether one of the frames of
// runtime code it is in belongs to a guarded entry point. Found by
// unwinding (libgcc finds frames without the loader's lock), and known until
// the stack pointer has come back above the outermost such frame. Frames
// that cannot be told count as inside: a thread that jumps out holding an
// arena lock never finishes leaving, and keeps every mutex it held.
bool InsideGuardedCall(ThreadObject* t, const ucontext_t* uc) {
    const std::uintptr_t sp = StackPointer(uc);
    if (sp < t->guardedFrameEnd) return true;
    GuardedSearch search{ProgramCounter(uc), t->stackTop};
    _Unwind_Backtrace(CheckFrame, &search);
    t->guardedFrameEnd = search.insideUntil;
    return !search.reached || search.insideUntil != 0;
}

// The mutexes of the condition waits the thread is in, from the clean-ups
// that the jump will run.
__attribute__((no_sanitize_address, no_sanitize_thread)) void NoteConditionWaits(ThreadObject* t,
                                                                                 std::uintptr_t sp) {
    const RuntimeFacts& f = runtimeFacts;
    t->conditionWaits = 0;
    if (f.conditionWaitCleanup == nullptr) return;
    const auto* buffer = *reinterpret_cast<_pthread_cleanup_buffer* const*>(
        reinterpret_cast<const char*>(pthread_self()) + f.cleanupChain);
    for (int n = 0; buffer != nullptr && n < 64; ++n, buffer = buffer->__prev) {
        const auto at = reinterpret_cast<std::uintptr_t>(buffer);
        if (at < sp || at >= t->stackTop) break;
        if (buffer->__routine != f.conditionWaitCleanup || t->conditionWaits == ThreadObject::kMaxConditionWaits) {
            continue;
        }
        t->conditionWaitMutexes[t->conditionWaits++] =
            *reinterpret_cast<pthread_mutex_t* const*>(static_cast<const char*>(buffer->__arg) + f.conditionWaitMutex);
    }
}

// A kill signal or a step: jumps the thread out if it is safe to leave from
// here, or follows it one more instruction out of runtime code.
void FollowOrJump(ucontext_t* uc) {
    ThreadState& s = tls;
    ThreadObject* t = s.self;
    if (t == nullptr || s.critical != 0 || !t->killRequested.load(std::memory_order_acquire)) {
        // Layer bookkeeping, or no kill: the killer signals again later.
        SetSingleStep(uc, false);
        return;
    }
    bool fromGuardedCall = false;
    const CodeRange* runtime = kSignalsAtSafePoints ? nullptr : runtimeFacts.FindRuntime(ProgramCounter(uc));
    if (runtime != nullptr && !WaitingInKernel(uc, *runtime)) {
        // Followed out one instruction at a time: out of runtime code, and
        // past the first bound, out of a guarded call only; past the last,
        // not at all.
        const bool anywhere = t->killAnywhere.load(std::memory_order_acquire);
        fromGuardedCall = anywhere && InsideGuardedCall(t, uc);
        if (!anywhere || (fromGuardedCall && !t->killInsideGuardedCall.load(std::memory_order_acquire))) {
            SetSingleStep(uc, kCanSingleStep && !StepStopsBefore(uc, *runtime));
            return;
        }
    }
    NoteConditionWaits(t, StackPointer(uc));
    t->jumpedFromGuardedCall = fromGuardedCall;
    s.critical = 1;
    siglongjmp(t->exitJump, 1);
}

void KillSignalHandler(int signal, siginfo_t* info, void* context) {
    if (!IsOurs(info)) {
        const int i = foreignIndex.load(std::memory_order_acquire);
        if (i >= 0) PassOn(foreignActions[i], signal, info, context, false);
        return;
    }
    if (ThreadObject* t = tls.self) t->killSignalsSeen.fetch_add(1, std::memory_order_relaxed);
    FollowOrJump(static_cast<ucontext_t*>(context));
}

// A trap that is not ours (a breakpoint instruction, say) gets what it
// would have got without us.
void TrapHandler(int signal, siginfo_t* info, void* context) {
    ThreadObject* t = tls.self;
    if (t != nullptr && t->killRequested.load(std::memory_order_acquire)) {
        FollowOrJump(static_cast<ucontext_t*>(context));
        return;
    }
    PassOn(previousTrapAction, signal, info, context, true);
}

}  // namespace

int KillSignal() { return SIGRTMIN + 5; }

void TakeKillSignal() {
    std::lock_guard<std::mutex> guard(foreignLock);
    struct sigaction current;
    if (sigaction(KillSignal(), nullptr, &current) != 0) return;
    if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == KillSignalHandler) return;
    foreignActions[foreignNext] = current;
    foreignIndex.store(foreignNext, std::memory_order_release);
    foreignNext = (foreignNext + 1) % 8;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = KillSignalHandler;
    action.sa_flags = SA_SIGINFO;  // no SA_RESTART: a killed sleeper must wake
    sigemptyset(&action.sa_mask);
    sigaction(KillSignal(), &action, nullptr);
}

void TakeTrapSignal() {
    if (!kCanSingleStep) return;
    static std::once_flag once;
    std::call_once(once, [] {
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

void SendKillSignal(ThreadObject* t) {
    union sigval value;
    value.sival_ptr = &killTag;
    pthread_sigqueue(t->pthread, KillSignal(), value);
}

void UnblockKillSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, KillSignal());
    sigaddset(&set, SIGTRAP);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void BlockKillSignal() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, KillSignal());
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

}  // namespace kx
