#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

namespace kx {

bool DynamicLibrary::Open(const std::string& path, std::string* error) {
    Close();
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
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
