// Names of named mutexes that no other test, or test run, uses.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

namespace kxtest {

inline std::string UniqueName(const char* what) {
    static std::atomic<int> counter{0};
    return std::string("kx-test-") + what + "-" + std::to_string(counter++) + "-" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

}  // namespace kxtest
