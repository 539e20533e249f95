// Where the host saves channels: bytes in memory, optionally written to a
// file. A saver may have a size limit (a full disk, say); a write past it
// fails and so does everything after it.
#pragma once

#include "abi/export.h"

#include <cstddef>
#include <cstdint>
#include <string>

class KX_HOST_ENGINE_API OrvFileSaver {
public:
    explicit OrvFileSaver(std::size_t limit = static_cast<std::size_t>(-1));

    bool WriteBytes(const void* data, std::size_t size);
    bool WriteU32(std::uint32_t value);
    bool WriteString(const std::string& text);

    bool Good() const;
    const std::string& Bytes() const;
    // Writes everything saved so far to `path`; false on any failure.
    bool SaveToFile(const char* path) const;

private:
    std::string bytes_;
    std::size_t limit_;
    bool good_ = true;
};
