// Where the host loads channels from: bytes read in order; reading past the
// end fails and so does everything after it.
#pragma once

#include "abi/export.h"

#include <cstddef>
#include <cstdint>
#include <string>

class KX_HOST_ENGINE_API OrvFileLoader {
public:
    explicit OrvFileLoader(std::string bytes);
    // Reads the whole file; Good() is false when it cannot be read.
    static OrvFileLoader FromFile(const char* path);

    bool ReadBytes(void* data, std::size_t size);
    bool ReadU32(std::uint32_t* value);
    bool ReadString(std::string* text, std::size_t maxSize);

    bool Good() const;

private:
    std::string bytes_;
    std::size_t position_ = 0;
    bool good_ = true;
};
