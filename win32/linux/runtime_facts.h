// What ending a thread by force needs to know of the C runtime. Found once,
// before the layer's first thread starts, and only read afterwards: a thread
// may be ended in the middle of a loader walk or an allocation, so the
// killer must not walk the loader's list, or allocate, to learn any of it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kx {

struct CodeRange {
    std::uintptr_t lo = 0;
    std::uintptr_t hi = 0;
    bool Holds(std::uintptr_t pc) const { return pc >= lo && pc < hi; }
};

struct RuntimeFacts {
    // The executable code of the C and C++ runtimes (and of the sanitizers',
    // which hold the allocator in their builds).
    static constexpr int kMaxRuntime = 16;
    CodeRange runtime[kMaxRuntime];
    int runtimeCount = 0;
    // Entry points whose work must not be cut short: the allocator's (a
    // thread inside may hold an arena lock) and a condition variable's (a
    // thread inside may be half way through changing the condition's state,
    // which glibc repairs only for a thread that leaves from the wait).
    static constexpr int kMaxGuarded = 64;
    CodeRange guarded[kMaxGuarded];
    int guardedCount = 0;

    // glibc's private layout, found by experiment (kUnknown or null: not
    // found, and that part of a forced end is left as glibc has it).
    static constexpr std::ptrdiff_t kUnknown = PTRDIFF_MIN;
    // Where a thread's descriptor (pthread_self()) holds the head of its
    // chain of clean-up buffers, which siglongjmp runs on its way out.
    std::ptrdiff_t cleanupChain = kUnknown;
    // A condition wait's clean-up, which takes the wait's mutex again, and
    // where its argument holds that mutex.
    void (*conditionWaitCleanup)(void*) = nullptr;
    std::ptrdiff_t conditionWaitMutex = kUnknown;
    // Where, from the thread pointer, a thread keeps its list of
    // thread_local destructors still to run.
    std::ptrdiff_t threadLocalDestructors = kUnknown;

    const CodeRange* FindRuntime(std::uintptr_t pc) const;
    bool InGuardedCall(std::uintptr_t pc) const;
};

extern RuntimeFacts runtimeFacts;

// Fills runtimeFacts; starts and joins one short-lived thread of its own.
void FindRuntimeFacts();

}  // namespace kx
