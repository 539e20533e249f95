#include "app/platform/DynamicLibrary.h"

#include "app/platform/win/SystemMessage.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace kx {
namespace {

// Whether the PE file's headers and every section's raw data lie within
// it. Files that are not PE are left to the loader, which refuses them.
bool Whole(const std::string& path, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return true;  // the loader says why
    auto readAt = [file](void* buffer, std::size_t size, unsigned long long offset) {
        return offset <= 0x7fffffffull && std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
               std::fread(buffer, 1, size, file) == size;
    };
    std::fseek(file, 0, SEEK_END);
    const auto size = static_cast<unsigned long long>(std::ftell(file));
    unsigned long long reach = 0;
    auto extent = [&reach](unsigned long long offset, unsigned long long length) {
        reach = std::max(reach, offset + length);
    };
    IMAGE_DOS_HEADER dos{};
    DWORD signature = 0;
    IMAGE_FILE_HEADER header{};
    if (readAt(&dos, sizeof dos, 0) && dos.e_magic == IMAGE_DOS_SIGNATURE &&
        readAt(&signature, sizeof signature, static_cast<DWORD>(dos.e_lfanew)) && signature == IMAGE_NT_SIGNATURE &&
        readAt(&header, sizeof header, static_cast<DWORD>(dos.e_lfanew) + 4ull)) {
        const unsigned long long table =
            static_cast<DWORD>(dos.e_lfanew) + 4ull + sizeof header + header.SizeOfOptionalHeader;
        extent(table, 1ull * header.NumberOfSections * sizeof(IMAGE_SECTION_HEADER));
        std::vector<IMAGE_SECTION_HEADER> sections(header.NumberOfSections);
        if (reach <= size && readAt(sections.data(), sections.size() * sizeof(IMAGE_SECTION_HEADER), table)) {
            for (const auto& section : sections) extent(section.PointerToRawData, section.SizeOfRawData);
        }
    }
    std::fclose(file);
    if (reach <= size) return true;
    *error = "the file is incomplete: " + std::to_string(size) + " bytes, where its contents reach to byte " +
             std::to_string(reach);
    return false;
}

}  // namespace

bool DynamicLibrary::Open(const std::string& path, std::string* error) {
    Close();
    const std::string file = path.find_first_of("/\\:") == std::string::npos ? ".\\" + path : path;
    if (!Whole(file, error)) return false;
    // Dependencies are looked for beside the library, as a host's own
    // plug-in folder would be, then beside the program, where a host keeps
    // the libraries it shares (the zip's try/ folder), then in the system's.
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(file.c_str(), sizeof full, full, nullptr);
    HMODULE module = length > 0 && length < sizeof full
                         ? LoadLibraryExA(full, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)
                         : nullptr;
    if (module == nullptr) {
        *error = SystemMessage(GetLastError());
        return false;
    }
    handle_ = module;
    return true;
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void DynamicLibrary::Close() {
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

std::string LibraryFileName(const std::string& name) { return name + ".dll"; }

std::string ProgramDirectory() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string full(path, n < sizeof path ? n : 0);
    const std::size_t slash = full.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".\\") : full.substr(0, slash + 1);
}

DynamicLibrary::~DynamicLibrary() { Close(); }

}  // namespace kx
