#include "host/OrvFileLoader.h"

#include <cstdio>
#include <cstring>
#include <utility>

OrvFileLoader::OrvFileLoader(std::string bytes) : bytes_(std::move(bytes)) {}

OrvFileLoader OrvFileLoader::FromFile(const char* path) {
    std::string bytes;
    std::FILE* f = std::fopen(path, "rb");
    bool ok = f != nullptr;
    if (ok) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
        ok = std::ferror(f) == 0;
        std::fclose(f);
    }
    OrvFileLoader loader(std::move(bytes));
    loader.good_ = ok;
    return loader;
}

bool OrvFileLoader::ReadBytes(void* data, std::size_t size) {
    if (!good_ || size > bytes_.size() - position_) {
        good_ = false;
        return false;
    }
    std::memcpy(data, bytes_.data() + position_, size);
    position_ += size;
    return true;
}

bool OrvFileLoader::ReadU32(std::uint32_t* value) {
    unsigned char le[4];
    if (!ReadBytes(le, sizeof le)) return false;
    *value = std::uint32_t(le[0]) | std::uint32_t(le[1]) << 8 | std::uint32_t(le[2]) << 16 |
             std::uint32_t(le[3]) << 24;
    return true;
}

bool OrvFileLoader::ReadString(std::string* text, std::size_t maxSize) {
    std::uint32_t size = 0;
    if (!ReadU32(&size)) return false;
    if (size > maxSize || size > bytes_.size() - position_) {
        good_ = false;
        return false;
    }
    text->assign(bytes_.data() + position_, size);
    position_ += size;
    return true;
}

bool OrvFileLoader::Good() const { return good_; }
