// Kernel mutexes for the Linux Win32 layer.
//
// A mutex is a recursive, robust pthread mutex: its owner may lock it again,
// and when the owner thread ends while holding it the next locker gets it
// (reported as WAIT_ABANDONED). Named mutexes are shared with other processes
// of the same user (named_mutex_file.h); inside one process every
// CreateMutexA of a name returns a handle to one object. Where shared memory
// is unavailable a name stays within the process.
#include "win32/linux/internal.h"
#include "win32/linux/named_mutex_file.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <cerrno>
#include <ctime>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace kx {
namespace {

struct MutexObject final : KernelObject {
    MutexObject() : KernelObject(ObjectKind::Mutex) {}
    void Release() override;
    // Frees the object unless a live thread of ours still holds its mutex.
    void Dispose();

    pthread_mutex_t* mutex = nullptr;  // `local`, or in a shared mapping
    std::string name;                  // empty when unnamed
    SharedMapping shared;
    pthread_mutex_t local;             // beside the handle: one allocation, fewer cache misses
};

// glibc links the robust mutexes a thread holds through the mutexes
// themselves, so one that a live thread of ours holds must never be freed.
bool HeldByLiveThreadOfOurs(pthread_mutex_t* m) {
    const int owner = m->__data.__owner & 0x3fffffff;
    if (owner == 0) return false;
    return syscall(SYS_tgkill, getpid(), owner, 0) == 0;
}

// Named objects of this process. The map exists only while a named mutex
// does, so a library unloaded with none open leaves nothing behind.
std::mutex registryLock;
std::unordered_map<std::string, MutexObject*>* registry = nullptr;

void MutexObject::Dispose() {
    const bool held = HeldByLiveThreadOfOurs(mutex);
    if (shared.file != nullptr) CloseShared(shared, !held);
    if (held) return;  // left allocated for good: rare, and safe
    if (mutex == &local) pthread_mutex_destroy(&local);
    delete this;
}

void MutexObject::Release() {
    if (name.empty()) {
        if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) Dispose();
        return;
    }
    // Under the registry lock, so a CreateMutexA of the same name never
    // revives an object on its way out.
    std::lock_guard<std::mutex> guard(registryLock);
    if (refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        registry->erase(name);
        if (registry->empty()) {
            delete registry;
            registry = nullptr;
        }
        Dispose();
    }
}

// A mutex of this process only; null when it cannot be made.
MutexObject* NewLocalMutex() {
    auto* o = new MutexObject;
    if (!InitRobustRecursive(&o->local, false)) {
        delete o;
        return nullptr;
    }
    o->mutex = &o->local;
    return o;
}

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer keeps believing that a thread which died holding a robust
// mutex still owns it, and it records an abandoned acquisition made through
// timedlock as no acquisition at all. So, in its builds only, each thread
// tracks what it holds and hands it back when it ends.
thread_local std::vector<pthread_mutex_t*> heldForSanitizer;

void NoteAcquired(pthread_mutex_t* m) { heldForSanitizer.push_back(m); }

void NoteReleased(pthread_mutex_t* m) {
    for (auto it = heldForSanitizer.rbegin(); it != heldForSanitizer.rend(); ++it) {
        if (*it == m) {
            heldForSanitizer.erase(std::next(it).base());
            return;
        }
    }
}

void NoteAbandonedAcquired(pthread_mutex_t* m) {
    __tsan_mutex_pre_lock(m, __tsan_mutex_try_lock);
    __tsan_mutex_post_lock(m, __tsan_mutex_try_lock, 0);
    NoteAcquired(m);
}

bool OwnedByCaller(pthread_mutex_t* m) {
    for (pthread_mutex_t* held : heldForSanitizer) {
        if (held == m) return true;
    }
    return false;
}
#else
void NoteAcquired(pthread_mutex_t*) {}
void NoteReleased(pthread_mutex_t*) {}
void NoteAbandonedAcquired(pthread_mutex_t*) {}
#endif

}  // namespace

namespace {

// Every wait but an uncontended acquisition, out of line so that the common
// case costs no more than its trylock: an abandoned mutex, a busy one (waited
// for in slices), a bad one.
__attribute__((noinline)) DWORD WaitMutexContended(pthread_mutex_t* m, int rc, DWORD milliseconds) {
    if (rc == EOWNERDEAD) {
        pthread_mutex_consistent(m);
        NoteAcquired(m);
        return WAIT_ABANDONED;
    }
    if (rc != EBUSY) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (milliseconds == 0) return WAIT_TIMEOUT;

    const std::int64_t deadline =
        milliseconds == INFINITE ? INT64_MAX : MonotonicNowNs() + std::int64_t(milliseconds) * 1000000;
    for (;;) {
        // Waits go in slices so that a waiter being terminated notices. The
        // slice's end is on the wall clock (what timedlock takes); a clock
        // jump only lengthens or shortens one slice.
        const std::int64_t left = deadline - MonotonicNowNs();
        const std::int64_t slice = left < 20000000 ? left : 20000000;
        timespec until;
        clock_gettime(CLOCK_REALTIME, &until);
        std::int64_t ns = until.tv_nsec + (slice > 0 ? slice : 0);
        until.tv_sec += static_cast<time_t>(ns / 1000000000);
        until.tv_nsec = static_cast<long>(ns % 1000000000);
        rc = pthread_mutex_timedlock(m, &until);
        if (rc == 0) {
            NoteAcquired(m);
            return WAIT_OBJECT_0;
        }
        if (rc == EOWNERDEAD) {
            pthread_mutex_consistent(m);
            NoteAbandonedAcquired(m);
            return WAIT_ABANDONED;
        }
        if (rc != ETIMEDOUT) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        TerminationPoint();
        if (MonotonicNowNs() >= deadline) return WAIT_TIMEOUT;
    }
}

}  // namespace

DWORD WaitMutex(KernelObject* object, DWORD milliseconds) {
    TerminationPoint();
    pthread_mutex_t* m = static_cast<MutexObject*>(object)->mutex;
    const int rc = pthread_mutex_trylock(m);
    if (__builtin_expect(rc == 0, 1)) {
        NoteAcquired(m);
        return WAIT_OBJECT_0;
    }
    return WaitMutexContended(m, rc, milliseconds);
}

BOOL ReleaseMutexObject(KernelObject* object) {
    // A thread whose end was asked for while a library kept the signal from
    // it ends at its first call here, before it touches anything more.
    TerminationPoint();
    pthread_mutex_t* m = static_cast<MutexObject*>(object)->mutex;
#if defined(__SANITIZE_THREAD__)
    // The kernel refuses a non-owner's release; ThreadSanitizer would report it.
    if (!OwnedByCaller(m)) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
#endif
    if (pthread_mutex_unlock(m) != 0) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    NoteReleased(m);
    return TRUE;
}

void ForgetHeldMutexesForSanitizer() {
#if defined(__SANITIZE_THREAD__)
    for (pthread_mutex_t* m : heldForSanitizer) {
        __tsan_mutex_pre_unlock(m, 0);
        __tsan_mutex_post_unlock(m, 0);
    }
    heldForSanitizer.clear();
#endif
}

}  // namespace kx

using namespace kx;

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR name) {
    MutexObject* object = nullptr;
    {
        LayerSection section;
        if (name == nullptr || name[0] == '\0') {
            object = NewLocalMutex();
        } else {
            std::string key(name);
            if (key.size() >= 260) {
                SetLastError(ERROR_FILENAME_EXCED_RANGE);
                return nullptr;
            }
            std::lock_guard<std::mutex> guard(registryLock);
            if (registry == nullptr) registry = new std::unordered_map<std::string, MutexObject*>;
            auto found = registry->find(key);
            if (found != registry->end()) {
                object = found->second;
                object->AddRef();
                SetLastError(ERROR_ALREADY_EXISTS);
            } else {
                SharedMapping shared;
                std::string why;
                if (OpenShared(SharedPath(key), &shared, &why)) {
                    object = new MutexObject;
                    object->shared = shared;
                    object->mutex = &shared.file->mutex;
                } else {
                    SayNotShared(key, why);
                    object = NewLocalMutex();
                }
                if (object != nullptr) {
                    object->name = key;
                    registry->emplace(key, object);
                    SetLastError(ERROR_SUCCESS);
                }
            }
        }
        if (object == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    }
    HANDLE handle = NewHandle(object);
    if (initialOwner) WaitMutex(object, INFINITE);
    return handle;
}
