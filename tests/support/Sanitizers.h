// What the sanitizer builds cannot do, so tests can say so instead of hanging.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace kxtest {

// A terminated thread leaks what it had allocated, as on Windows; a thread
// that is meant to be terminated says so, and its allocations are not
// reported as leaks.
inline void ExpectToBeTerminated() {
#if defined(__SANITIZE_ADDRESS__)
    __lsan_disable();
#endif
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The allocator is the sanitizer's, not the C runtime's.
constexpr bool kOwnAllocator = true;
#else
constexpr bool kOwnAllocator = false;
#endif

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer holds back asynchronous signals until its next intercepted
// call, so code that spins without calls cannot be interrupted.
constexpr bool kSignalsDeferred = true;
#else
constexpr bool kSignalsDeferred = false;
#endif

}  // namespace kxtest
