// Frames a test fills and compares byte for byte.
#pragma once

#include "driver/Frame.h"

#include <cstring>

namespace kxtest {

inline Frame Filled(unsigned char byte) {
    Frame f;
    std::memset(&f, byte, sizeof f);
    return f;
}

inline bool SameBytes(const Frame& a, const Frame& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace kxtest
