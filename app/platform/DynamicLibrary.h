// Loading a library by path at run time, as a host loads a plug-in.
#pragma once

#include <string>

namespace kx {

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // False, with the reason in `error`, when it cannot be loaded. A name
    // without a folder is the file in the current folder, never one on the
    // loader's search path. The file is checked first: a library cut short
    // would crash the loader where its missing parts are touched.
    bool Open(const std::string& path, std::string* error);
    // The address of an exported symbol, or null.
    void* Symbol(const char* name) const;
    void Close();

private:
    void* handle_ = nullptr;
};

// The file name a library has on this platform: "Name.dll" or "libName.so".
std::string LibraryFileName(const std::string& name);

// The folder of the running program, ending in a separator.
std::string ProgramDirectory();

}  // namespace kx
