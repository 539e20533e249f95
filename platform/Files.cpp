#include "platform/Files.h"

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <io.h>

namespace kx {

bool FlushToDisk(std::FILE* file) { return std::fflush(file) == 0 && _commit(_fileno(file)) == 0; }

MoveResult MoveFileTo(const std::string& from, const std::string& to, bool replace, std::string* error) {
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExA(from.c_str(), to.c_str(), flags)) return MoveResult::Moved;
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return MoveResult::TargetExists;
    char text[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, sizeof text,
                   nullptr);
    std::string reason(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ' ||
                               reason.back() == '.')) {
        reason.pop_back();
    }
    *error = reason.empty() ? "error " + std::to_string(code) : reason;
    return MoveResult::Failed;
}

unsigned long ProcessId() { return GetCurrentProcessId(); }

}  // namespace kx

#else

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

#endif
