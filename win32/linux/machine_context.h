// The interrupted context that a signal handler sees, for the forced end:
// where the thread was, whether it waits in the kernel, and single-stepping
// it. Only x86-64 can step and tell a wait in the kernel; elsewhere a thread
// caught in runtime code is ended at the bound without either.
#pragma once

#include "win32/linux/runtime_facts.h"

#include <ucontext.h>

namespace kx {

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

std::uintptr_t ProgramCounter(const ucontext_t* uc);
std::uintptr_t StackPointer(const ucontext_t* uc);

// Interrupted while blocked in a system call made from `code`: the call was
// cut short. Such a thread holds none of the runtime's locks worth fearing
// (it is waiting for one, if anything).
bool WaitingInKernel(const ucontext_t* uc, const CodeRange& code);

// Whether stepping must stop before the next instruction: a system call
// might block SIGTRAP, and a trap that finds it blocked kills the process;
// a repeated string instruction traps once per element. The killer's next
// signal takes up the chase after either.
bool StepStopsBefore(const ucontext_t* uc, const CodeRange& code);

void SetSingleStep(ucontext_t* uc, bool on);

}  // namespace kx
