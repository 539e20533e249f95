#include "app/platform/Folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kx {
namespace {

FileId IdOf(const struct stat& st) {
    return {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
}

bool operator==(const FileId& a, const FileId& b) { return a.device == b.device && a.file == b.file; }

}  // namespace

Folder::Folder(const std::string& path) : path_(path.substr(0, NameStart(path))) {}

Folder::~Folder() {
    if (fd_ >= 0) close(fd_);
}

bool Folder::Open(std::string* error) {
    fd_ = open(path_.empty() ? "." : path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st {};
    if (fd_ < 0 || fstat(fd_, &st) != 0) {
        *error = std::strerror(errno);
        return false;
    }
    id_ = IdOf(st);
    return true;
}

bool Folder::StillThere() const {
    struct stat st {};
    return stat(path_.empty() ? "." : path_.c_str(), &st) == 0 && IdOf(st) == id_;
}

std::FILE* Folder::CreateNew(const std::string& name, FileId* id) {
    const int fd = openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    struct stat st {};
    std::FILE* file = fstat(fd, &st) == 0 ? fdopen(fd, "wb") : nullptr;
    if (file == nullptr) {
        const int reason = errno;
        close(fd);
        unlinkat(fd_, name.c_str(), 0);
        errno = reason;
        return nullptr;
    }
    *id = IdOf(st);
    return file;
}

bool Folder::Holds(const std::string& name, const FileId& id) const {
    struct stat st {};
    return fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && IdOf(st) == id;
}

MoveResult Folder::Move(const std::string& from, const std::string& to, bool replace, std::string* error) {
    if (renameat2(fd_, from.c_str(), fd_, to.c_str(), replace ? 0 : RENAME_NOREPLACE) == 0) return MoveResult::Moved;
    // File systems without the no-replace rename: a hard link also refuses
    // an existing name.
    if (!replace && (errno == EINVAL || errno == ENOSYS) && linkat(fd_, from.c_str(), fd_, to.c_str(), 0) == 0) {
        unlinkat(fd_, from.c_str(), 0);
        return MoveResult::Moved;
    }
    if (errno == EEXIST) return MoveResult::TargetExists;
    *error = std::strerror(errno);
    return MoveResult::Failed;
}

void Folder::Remove(const std::string& name) { unlinkat(fd_, name.c_str(), 0); }

}  // namespace kx
