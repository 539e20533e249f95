// The suit library's description of one suit. Only the library reads it.
#pragma once

struct SuitInfo {
    unsigned char bytes[24];
};

static_assert(sizeof(SuitInfo) == 24, "the suit library fills 24 bytes");
