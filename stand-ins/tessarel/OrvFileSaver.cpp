#include "host/OrvFileSaver.h"

#include <cstdio>

OrvFileSaver::OrvFileSaver(std::size_t limit) : limit_(limit) {}

bool OrvFileSaver::WriteBytes(const void* data, std::size_t size) {
    if (!good_ || size > limit_ - bytes_.size()) {
        good_ = false;
        return false;
    }
    bytes_.append(static_cast<const char*>(data), size);
    return true;
}

bool OrvFileSaver::WriteU32(std::uint32_t value) {
    const unsigned char le[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                 static_cast<unsigned char>(value >> 16),
                                 static_cast<unsigned char>(value >> 24)};
    return WriteBytes(le, sizeof le);
}

bool OrvFileSaver::WriteString(const std::string& text) {
    return WriteU32(static_cast<std::uint32_t>(text.size())) && WriteBytes(text.data(), text.size());
}

bool OrvFileSaver::Good() const { return good_; }

const std::string& OrvFileSaver::Bytes() const { return bytes_; }

bool OrvFileSaver::SaveToFile(const char* path) const {
    if (!good_) return false;
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return false;
    const bool written = std::fwrite(bytes_.data(), 1, bytes_.size(), f) == bytes_.size();
    return std::fclose(f) == 0 && written;
}
