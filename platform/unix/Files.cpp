#include "platform/Files.h"

#include <fcntl.h>
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

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

}  // namespace kx
