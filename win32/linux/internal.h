// Internals shared by the Linux implementation of the Win32 calls.
#pragma once

#include "win32/win32.h"

#include <atomic>
#include <cstdint>

namespace kx {

enum class ObjectKind : std::uint32_t { Mutex = 0x4D555458u, Thread = 0x54485244u };

struct KernelObject;

// What a HANDLE points to: one per open handle, so that duplicated handles
// are distinct and each is closed on its own.
struct HandleEntry {
    static constexpr std::uint32_t kLive = 0x484E444Cu;
    std::uint32_t magic = 0;
    KernelObject* object = nullptr;
};

// A kernel object lives while any handle to it is open and, for a thread,
// while the thread itself runs.
struct KernelObject {
    explicit KernelObject(ObjectKind k) : kind(k) { primary.object = this; }
    virtual ~KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;

    void AddRef() { refs.fetch_add(1, std::memory_order_relaxed); }
    virtual void Release();

    const ObjectKind kind;
    std::atomic<int> refs{1};
    // The entry of the object's first handle lives inside the object, so
    // reaching the object from it costs no extra cache line; duplicates get
    // entries of their own.
    HandleEntry primary;
    std::atomic<bool> primaryInUse{false};
};

HANDLE NewHandle(KernelObject* object);
KernelObject* Resolve(HANDLE handle, ObjectKind kind);

DWORD WaitMutex(KernelObject* mutex, DWORD milliseconds);
BOOL ReleaseMutexObject(KernelObject* mutex);
DWORD WaitThread(KernelObject* thread, DWORD milliseconds);
void ThreadHandleClosed(KernelObject* thread);
void ThreadHandleDuplicated(KernelObject* thread);
// Before the first thread starts: learns what ending a thread needs, and
// installs the kill signal's handler, while no thread can hold a lock that
// either takes.
void PrepareForcedEnd();

// A thread that ends holding mutexes abandons them; sanitizer builds must be
// told, as it ends.
void ForgetHeldMutexesForSanitizer();

// Called while no layer bookkeeping is in progress: ends the calling thread
// here if TerminateThread was asked to end it.
void TerminationPoint();

// Marks layer bookkeeping (internal locks held, reference counts moving):
// a thread is never ended inside one.
class LayerSection {
public:
    LayerSection();
    ~LayerSection();
    LayerSection(const LayerSection&) = delete;
    LayerSection& operator=(const LayerSection&) = delete;
};

std::int64_t MonotonicNowNs();

}  // namespace kx
