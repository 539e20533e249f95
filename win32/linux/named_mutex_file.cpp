// The /dev/shm file of a named mutex: making, checking, opening and
// removing it.
#include "win32/linux/named_mutex_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kx {
namespace {

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

}  // namespace

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

// A creator initialises an unnamed
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

void SayNotShared(const std::string& name, const std::string& why) {
    const std::string text =
        "Named mutex \"" + name + "\" is shared within this process only: " + SharedPath(name) + " " + why + "\n";
    (void)!write(2, text.data(), text.size());
}

}  // namespace kx
