// Test sizes that a documented long run raises through the environment.
#pragma once

#include <cstdlib>

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

}  // namespace kxtest
