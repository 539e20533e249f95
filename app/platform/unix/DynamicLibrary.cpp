#include "app/platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace kx {
namespace {

bool ReadAt(int fd, void* buffer, std::size_t size, off_t offset) {
    return pread(fd, buffer, size, offset) == static_cast<ssize_t>(size);
}

// Whether `path` is a plain file and every part of the ELF file that the
// loader maps or reads lies within it. Files that are not ELF of this class
// are left to dlopen, which refuses them without touching them.
bool Whole(const std::string& path, std::string* error) {
    // Not blocking: a FIFO would wait here for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return true;  // dlopen says why
    struct stat st {};
    if (fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) {
        close(fd);
        *error = S_ISDIR(st.st_mode)    ? "it is a folder"
                 : S_ISFIFO(st.st_mode) ? "it is a FIFO, not a file"
                                        : "it is not a plain file";
        return false;
    }
    ElfW(Ehdr) header{};
    const bool elf = ReadAt(fd, &header, sizeof header, 0) &&
                     std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 && header.e_ident[EI_CLASS] == (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32) &&
                     header.e_phentsize == sizeof(ElfW(Phdr)) &&
                     (header.e_shnum == 0 || header.e_shentsize == sizeof(ElfW(Shdr)));
    const auto size = static_cast<unsigned long long>(st.st_size);
    unsigned long long reach = 0;  // how far the file must go
    auto extent = [&reach](unsigned long long offset, unsigned long long length) {
        reach = std::max(reach, offset + length < offset ? ~0ull : offset + length);
    };
    if (elf) {
        extent(header.e_phoff, 1ull * header.e_phnum * sizeof(ElfW(Phdr)));
        if (header.e_shnum > 0) extent(header.e_shoff, 1ull * header.e_shnum * sizeof(ElfW(Shdr)));
    }
    if (elf && reach <= size) {
        std::vector<ElfW(Phdr)> segments(header.e_phnum);
        std::vector<ElfW(Shdr)> sections(header.e_shnum);
        ReadAt(fd, segments.data(), segments.size() * sizeof(ElfW(Phdr)), static_cast<off_t>(header.e_phoff));
        ReadAt(fd, sections.data(), sections.size() * sizeof(ElfW(Shdr)), static_cast<off_t>(header.e_shoff));
        for (const auto& segment : segments) extent(segment.p_offset, segment.p_filesz);
        for (const auto& section : sections) {
            if (section.sh_type != SHT_NOBITS) extent(section.sh_offset, section.sh_size);
        }
    }
    close(fd);
    if (reach <= size) return true;
    *error = "the file is incomplete: " + std::to_string(size) + " bytes, where its contents reach to byte " +
             std::to_string(reach);
    return false;
}

}  // namespace

bool DynamicLibrary::Open(const std::string& path, std::string* error) {
    Close();
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    if (!Whole(file, error)) return false;
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* reason = dlerror();
        *error = reason != nullptr ? reason : "unknown error";
        return false;
    }
    return true;
}

void* DynamicLibrary::Symbol(const char* name) const {
    return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

void DynamicLibrary::Close() {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = nullptr;
}

std::string LibraryFileName(const std::string& name) { return "lib" + name + ".so"; }

std::string ProgramDirectory() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string full(path, n > 0 ? static_cast<std::size_t>(n) : 0);
    const std::size_t slash = full.rfind('/');
    return slash == std::string::npos ? std::string("./") : full.substr(0, slash + 1);
}

DynamicLibrary::~DynamicLibrary() { Close(); }

}  // namespace kx
