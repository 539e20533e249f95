// Test sizes that a documented long run raises through the environment, and
// the process's own thread count to compare against.
#pragma once

#include "support/ProcessInfo.h"

#include <cstdlib>
#include <thread>

namespace kxtest {

inline long EnvNumber(const char* name, long fallback) {
    const char* v = std::getenv(name);
    if (v == nullptr || *v == '\0') return fallback;
    return std::strtol(v, nullptr, 10);
}

// A size: positive, or the fallback.
inline long EnvCount(const char* name, long fallback) {
    const long n = EnvNumber(name, fallback);
    return n > 0 ? n : fallback;
}

// Threads of the process once its runtime has settled: ThreadSanitizer
// starts a thread of its own when the first other thread is created.
inline int BaselineThreadCount() {
    std::thread([] {}).join();
    return kx::CountProcessThreads();
}

}  // namespace kxtest
