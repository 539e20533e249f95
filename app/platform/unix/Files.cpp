#include "app/platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kx {

bool FlushToDisk(std::FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

MoveResult MoveFileTo(const std::string& from, const std::string& to, bool replace, std::string* error) {
    if (replace) {
        if (std::rename(from.c_str(), to.c_str()) == 0) return MoveResult::Moved;
    } else {
        if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return MoveResult::Moved;
        // File systems without the no-replace rename: a hard link also
        // refuses an existing name.
        if (errno == EINVAL || errno == ENOSYS) {
            if (link(from.c_str(), to.c_str()) == 0) {
                unlink(from.c_str());
                return MoveResult::Moved;
            }
        }
    }
    if (errno == EEXIST) return MoveResult::TargetExists;
    *error = std::strerror(errno);
    return MoveResult::Failed;
}

PathKind Examine(const std::string& path, std::string* error) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? PathKind::Folder : PathKind::Other;
    if (errno == ENOENT) {
        const std::size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
        if (stat(folder.c_str(), &st) == 0) return PathKind::None;
    }
    *error = std::strerror(errno);
    return PathKind::Unknown;
}

MoveResult SetAside(const std::string& path, const std::string& aside, std::string* error) {
    if (link(path.c_str(), aside.c_str()) == 0) return MoveResult::Moved;
    if (errno == EEXIST) return MoveResult::TargetExists;
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK) {
        *error = std::strerror(errno);
        return MoveResult::Failed;
    }
    return MoveFileTo(path, aside, false, error);
}

std::size_t NameStart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

}  // namespace kx
