// Handles, the calls common to every kind of object, and the C runtime's
// _itoa, for the Linux Win32 layer.
#include "win32/linux/internal.h"

namespace kx {
namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

void KernelObject::Release() {
    if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

HANDLE NewHandle(KernelObject* object) {
    if (!object->primaryInUse.exchange(true)) {
        object->primary.magic = HandleEntry::kLive;
        return &object->primary;
    }
    auto* entry = new HandleEntry;
    entry->magic = HandleEntry::kLive;
    entry->object = object;
    return entry;
}

KernelObject* Resolve(HANDLE handle, ObjectKind kind) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    auto* entry = static_cast<HandleEntry*>(handle);
    if (entry->magic != HandleEntry::kLive || entry->object->kind != kind) {
        lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    return entry->object;
}

namespace {

KernelObject* ResolveAny(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    auto* entry = static_cast<HandleEntry*>(handle);
    return entry->magic == HandleEntry::kLive ? entry->object : nullptr;
}

}  // namespace
}  // namespace kx

using namespace kx;

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD error) { lastError = error; }

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    KernelObject* o = ResolveAny(object);
    if (o == nullptr) {
        lastError = ERROR_INVALID_HANDLE;
        return WAIT_FAILED;
    }
    return o->kind == ObjectKind::Mutex ? WaitMutex(o, milliseconds) : WaitThread(o, milliseconds);
}

BOOL ReleaseMutex(HANDLE mutex) {
    KernelObject* o = Resolve(mutex, ObjectKind::Mutex);
    return o == nullptr ? FALSE : ReleaseMutexObject(o);
}

BOOL CloseHandle(HANDLE object) {
    LayerSection section;
    KernelObject* o = ResolveAny(object);
    if (o == nullptr) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    auto* entry = static_cast<HandleEntry*>(object);
    entry->magic = 0;
    if (entry == &o->primary) {
        o->primaryInUse.store(false);
    } else {
        delete entry;
    }
    if (o->kind == ObjectKind::Thread) ThreadHandleClosed(o);
    o->Release();
    return TRUE;
}

HANDLE GetCurrentProcess() { return INVALID_HANDLE_VALUE; }

BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, HANDLE* target,
                     DWORD, BOOL, DWORD) {
    if (sourceProcess != GetCurrentProcess() || targetProcess != GetCurrentProcess() ||
        target == nullptr) {
        lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    LayerSection section;
    KernelObject* o = ResolveAny(source);
    if (o == nullptr) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    o->AddRef();
    if (o->kind == ObjectKind::Thread) ThreadHandleDuplicated(o);
    *target = NewHandle(o);
    return TRUE;
}

char* _itoa(int value, char* buffer, int radix) {
    if (radix < 2 || radix > 36) {
        buffer[0] = '\0';
        return buffer;
    }
    // As the C runtime does: only base 10 shows a sign; other bases print
    // the two's complement bits.
    const bool negative = radix == 10 && value < 0;
    unsigned magnitude = negative ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    char reversed[33];
    int n = 0;
    do {
        const unsigned digit = magnitude % static_cast<unsigned>(radix);
        reversed[n++] = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
        magnitude /= static_cast<unsigned>(radix);
    } while (magnitude != 0);
    char* out = buffer;
    if (negative) *out++ = '-';
    while (n > 0) *out++ = reversed[--n];
    *out = '\0';
    return buffer;
}
