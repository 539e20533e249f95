// A GUID in its usual in-memory layout: a 32-bit and two 16-bit little-endian
// numbers, then eight bytes as written.
#pragma once

#include <cstdint>

struct OrvGuid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};

static_assert(sizeof(OrvGuid) == 16, "a GUID is 16 bytes");
