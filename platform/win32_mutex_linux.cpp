// Kernel mutexes for the Linux Win32 layer.
//
// A mutex is a recursive, robust pthread mutex: its owner may lock it again,
// and when the owner thread ends while holding it the next locker gets it
// (reported as WAIT_ABANDONED). Named mutexes are shared with other processes
// of the same user through a file in /dev/shm holding a process-shared mutex;
// inside one process every CreateMutexA of a name returns a handle to one
// object. Where shared memory is unavailable a name stays within the process.
#include "platform/win32_linux_internal.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
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

// A shared mapping of one named mutex; the file holds nothing but the mutex.
struct SharedMapping {
    int fd = -1;
    pthread_mutex_t* mutex = nullptr;
    std::string path;
};

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

bool InitRobustRecursive(pthread_mutex_t* m, bool processShared) {
    pthread_mutexattr_t a;
    if (pthread_mutexattr_init(&a) != 0) return false;
    pthread_mutexattr_settype(&a, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setrobust(&a, PTHREAD_MUTEX_ROBUST);
    if (processShared) pthread_mutexattr_setpshared(&a, PTHREAD_PROCESS_SHARED);
    const int rc = pthread_mutex_init(m, &a);
    pthread_mutexattr_destroy(&a);
    return rc == 0;
}

// glibc links the robust mutexes a thread holds through the mutexes
// themselves, so one that a live thread of ours holds must never be freed.
bool HeldByLiveThreadOfOurs(pthread_mutex_t* m) {
    const int owner = m->__data.__owner & 0x3fffffff;
    if (owner == 0) return false;
    return syscall(SYS_tgkill, getpid(), owner, 0) == 0;
}

std::string SharedPath(const std::string& name) {
    std::string escaped;
    for (unsigned char c : name) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
            c == '_' || c == '-') {
            escaped += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            escaped += hex;
        }
    }
    if (escaped.size() > 200) {
        // A file name holds 255 bytes: long names go by their hash.
        std::uint64_t h = 1469598103934665603ull;
        for (unsigned char c : name) h = (h ^ c) * 1099511628211ull;
        char hashed[40];
        std::snprintf(hashed, sizeof hashed, "#%016llx.%zu", static_cast<unsigned long long>(h),
                      name.size());
        escaped = hashed;
    }
    return "/dev/shm/kx-mutex." + std::to_string(getuid()) + "." + escaped;
}

pthread_mutex_t* MapMutex(int fd) {
    void* p = mmap(nullptr, sizeof(pthread_mutex_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : static_cast<pthread_mutex_t*>(p);
}

// Opens the shared mutex of `path`, creating it when absent. A creator
// initialises an unnamed file and links it under the name only when ready, so
// no one ever sees a half-made mutex; every user holds a shared flock, and the
// last to leave (the only one that gets the exclusive lock) removes the name.
bool OpenShared(const std::string& path, SharedMapping* out) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0) {
            struct stat st;
            if (flock(fd, LOCK_SH) != 0 || fstat(fd, &st) != 0) {
                close(fd);
                return false;
            }
            if (st.st_nlink == 0 || st.st_size != static_cast<off_t>(sizeof(pthread_mutex_t))) {
                close(fd);  // removed by its last user meanwhile, or not ours: try again
                continue;
            }
            pthread_mutex_t* m = MapMutex(fd);
            if (m == nullptr) {
                close(fd);
                return false;
            }
            *out = SharedMapping{fd, m, path};
            return true;
        }
        if (errno != ENOENT) return false;

        fd = open("/dev/shm", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd < 0) return false;
        pthread_mutex_t* m = nullptr;
        if (ftruncate(fd, sizeof(pthread_mutex_t)) != 0 || (m = MapMutex(fd)) == nullptr ||
            !InitRobustRecursive(m, true) || flock(fd, LOCK_SH) != 0) {
            if (m != nullptr) munmap(m, sizeof(pthread_mutex_t));
            close(fd);
            return false;
        }
        char procPath[64];
        std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd);
        if (linkat(AT_FDCWD, procPath, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            *out = SharedMapping{fd, m, path};
            return true;
        }
        const int linkError = errno;
        munmap(m, sizeof(pthread_mutex_t));
        close(fd);
        if (linkError != EEXIST) return false;
        // Someone else created it first: use theirs.
    }
    return false;
}

void CloseShared(SharedMapping& s, bool unmap) {
    if (unmap) munmap(s.mutex, sizeof(pthread_mutex_t));
    if (flock(s.fd, LOCK_EX | LOCK_NB) == 0) {
        struct stat mine, named;
        if (fstat(s.fd, &mine) == 0 && stat(s.path.c_str(), &named) == 0 &&
            mine.st_ino == named.st_ino && mine.st_dev == named.st_dev) {
            unlink(s.path.c_str());
        }
    }
    close(s.fd);
}

// Named objects of this process. The map exists only while a named mutex
// does, so a library unloaded with none open leaves nothing behind.
std::mutex registryLock;
std::unordered_map<std::string, MutexObject*>* registry = nullptr;

void MutexObject::Dispose() {
    const bool held = HeldByLiveThreadOfOurs(mutex);
    if (shared.mutex != nullptr) CloseShared(shared, !held);
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
    pthread_mutex_t* m = static_cast<MutexObject*>(object)->mutex;
    const int rc = pthread_mutex_trylock(m);
    if (__builtin_expect(rc == 0, 1)) {
        NoteAcquired(m);
        return WAIT_OBJECT_0;
    }
    return WaitMutexContended(m, rc, milliseconds);
}

BOOL ReleaseMutexObject(KernelObject* object) {
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
                if (OpenShared(SharedPath(key), &shared)) {
                    object = new MutexObject;
                    object->shared = shared;
                    object->mutex = shared.mutex;
                } else {
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
