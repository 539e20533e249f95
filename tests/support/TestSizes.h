// Test sizes that a documented long run raises through the environment.
#pragma once

#include <cstdlib>

namespace kxtest {

// A positive number from the environment, or the fallback.
inline long EnvCount(const char* name, long fallback) {
    const char* v = std::getenv(name);
    const long n = v != nullptr ? std::strtol(v, nullptr, 10) : 0;
    return n > 0 ? n : fallback;
}

}  // namespace kxtest
