// Kernel mutexes for the Linux Win32 layer.
//
// A mutex is a recursive, robust pthread mutex: its owner may lock it again,
// and when the owner thread ends while holding it the next locker gets it
// (reported as WAIT_ABANDONED). Named mutexes are shared with other processes
// of the same user through a file in /dev/shm holding a process-shared mutex
// (checked before it is trusted: this user's, mode 0600, of our layout);
// inside one process every CreateMutexA of a name returns a handle to one
// object. Where shared memory is unavailable a name stays within the process.
#include "win32/linux/internal.h"

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
#include <cstring>
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

// The file under a shared mutex's name: a header that says it is ours and
// of this layout, then the mutex.
struct SharedFile {
    static constexpr std::uint32_t kMagic = 0x584D584Bu;  // "KXMX"
    static constexpr std::uint32_t kVersion = 1;
    std::uint32_t magic;
    std::uint32_t version;
    std::uint32_t mutexSize;
    std::uint32_t reserved;
    pthread_mutex_t mutex;
};

// A shared mapping of one named mutex.
struct SharedMapping {
    int fd = -1;
    SharedFile* file = nullptr;
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

SharedFile* MapFile(int fd) {
    void* p = mmap(nullptr, sizeof(SharedFile), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return p == MAP_FAILED ? nullptr : static_cast<SharedFile*>(p);
}

// A library must never hand one of its descriptors to the caller's standard
// streams: with standard output closed, the program's output would land in
// the mutex.
int AwayFromStandardStreams(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

// Whether an open file under the name is a mutex of ours, and why not.
bool CheckShared(int fd, const struct stat& st, std::string* why) {
    if (!S_ISREG(st.st_mode)) {
        *why = "not a regular file";
    } else if (st.st_uid != geteuid()) {
        *why = "owned by another user";
    } else if ((st.st_mode & 07777) != 0600) {
        *why = "open to other users";
    } else if (st.st_size != static_cast<off_t>(sizeof(SharedFile))) {
        *why = "of the wrong size";
    } else {
        SharedFile* f = MapFile(fd);
        if (f == nullptr) {
            *why = "cannot be mapped";
            return false;
        }
        const bool ours = f->magic == SharedFile::kMagic && f->version == SharedFile::kVersion &&
                          f->mutexSize == sizeof(pthread_mutex_t);
        munmap(f, sizeof(SharedFile));
        if (ours) return true;
        *why = "holds something else";
    }
    return false;
}

// Opens the shared mutex of `path`, creating it when absent; false with the
// reason when the name cannot be shared. A creator initialises an unnamed
// file and links it under the name only when ready, so no one ever sees a
// half-made mutex; every user holds a shared flock, and the last to leave
// (the only one that gets the exclusive lock) removes the name. What is
// found under the name is checked before it is trusted; a file of this user
// that nobody holds and that fails the check is replaced.
bool OpenShared(const std::string& path, SharedMapping* out, std::string* why) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = AwayFromStandardStreams(open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        if (fd >= 0) {
            // Checked before it is locked, so that another user's file can
            // never hold us up.
            struct stat st;
            if (fstat(fd, &st) != 0) {
                *why = std::string("cannot be examined: ") + std::strerror(errno);
                close(fd);
                return false;
            }
            if (!CheckShared(fd, st, why)) {
                struct stat named;
                const bool replaceable = st.st_uid == geteuid() && S_ISREG(st.st_mode) &&
                                         flock(fd, LOCK_EX | LOCK_NB) == 0 && lstat(path.c_str(), &named) == 0 &&
                                         named.st_ino == st.st_ino && named.st_dev == st.st_dev;
                close(fd);
                if (replaceable && unlink(path.c_str()) == 0) continue;
                return false;
            }
            if (flock(fd, LOCK_SH) != 0 || fstat(fd, &st) != 0) {
                *why = std::string("cannot be locked: ") + std::strerror(errno);
                close(fd);
                return false;
            }
            if (st.st_nlink == 0) {
                close(fd);  // removed by its last user meanwhile: try again
                continue;
            }
            SharedFile* f = MapFile(fd);
            if (f == nullptr) {
                *why = "cannot be mapped";
                close(fd);
                return false;
            }
            *out = SharedMapping{fd, f, path};
            return true;
        }
        if (errno == ELOOP) {
            *why = "a symbolic link";
            return false;
        }
        if (errno != ENOENT) {
            *why = std::string("cannot be opened: ") + std::strerror(errno);
            return false;
        }

        fd = AwayFromStandardStreams(open("/dev/shm", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
        if (fd < 0) {
            *why = std::string("no shared memory: ") + std::strerror(errno);
            return false;
        }
        // Space reserved for real: a page that cannot be backed would crash
        // the process at its first touch.
        const int reserved = fchmod(fd, 0600) == 0 ? posix_fallocate(fd, 0, sizeof(SharedFile)) : errno;
        SharedFile* f = reserved == 0 ? MapFile(fd) : nullptr;
        if (f == nullptr || !InitRobustRecursive(&f->mutex, true) || flock(fd, LOCK_SH) != 0) {
            *why = std::string("no room in /dev/shm: ") + std::strerror(reserved != 0 ? reserved : errno);
            if (f != nullptr) munmap(f, sizeof(SharedFile));
            close(fd);
            return false;
        }
        f->magic = SharedFile::kMagic;
        f->version = SharedFile::kVersion;
        f->mutexSize = sizeof(pthread_mutex_t);
        char procPath[64];
        std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd);
        if (linkat(AT_FDCWD, procPath, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            *out = SharedMapping{fd, f, path};
            return true;
        }
        const int linkError = errno;
        munmap(f, sizeof(SharedFile));
        close(fd);
        if (linkError != EEXIST) {
            *why = std::string("cannot be named: ") + std::strerror(linkError);
            return false;
        }
        // Someone else created it first: use theirs.
    }
    *why = "keeps changing";
    return false;
}

void CloseShared(SharedMapping& s, bool unmap) {
    if (unmap) munmap(s.file, sizeof(SharedFile));
    if (flock(s.fd, LOCK_EX | LOCK_NB) == 0) {
        struct stat mine, named;
        if (fstat(s.fd, &mine) == 0 && lstat(s.path.c_str(), &named) == 0 &&
            mine.st_ino == named.st_ino && mine.st_dev == named.st_dev) {
            unlink(s.path.c_str());
        }
    }
    close(s.fd);
}

// The one message of a name that stays within the process, where a Windows
// program would see it in its debug output.
void SayNotShared(const std::string& name, const std::string& why) {
    const std::string text =
        "Named mutex \"" + name + "\" is shared within this process only: " + SharedPath(name) + " " + why + "\n";
    (void)!write(2, text.data(), text.size());
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
