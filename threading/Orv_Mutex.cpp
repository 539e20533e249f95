#include "threading/Orv_Mutex.h"

#include "win32/win32.h"

namespace {

void* Duplicate(void* handle) {
    if (handle == nullptr) return nullptr;
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

}  // namespace

Orv_Mutex::Orv_Mutex() : handle(nullptr) {}

Orv_Mutex::Orv_Mutex(const Orv_Mutex& other) : handle(Duplicate(other.handle)) {}

Orv_Mutex& Orv_Mutex::operator=(const Orv_Mutex& other) {
    if (this != &other && handle != other.handle) {
        void* copy = Duplicate(other.handle);
        if (handle != nullptr) ::CloseHandle(handle);
        handle = copy;
    }
    return *this;
}

Orv_Mutex::~Orv_Mutex() {
    if (handle != nullptr) ::CloseHandle(handle);
}

void Orv_Mutex::Create(const char* name) {
    if (handle == nullptr) handle = ::CreateMutexA(nullptr, FALSE, name);
}

void Orv_Mutex::WaitForSingleObject() { ::WaitForSingleObject(handle, INFINITE); }

void Orv_Mutex::Release() { ::ReleaseMutex(handle); }
