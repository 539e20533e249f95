#include "app/platform/Files.h"

#include "app/platform/win/SystemMessage.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>

namespace kx {

bool FlushToDisk(std::FILE* file) { return std::fflush(file) == 0 && _commit(_fileno(file)) == 0; }

MoveResult MoveFileTo(const std::string& from, const std::string& to, bool replace, std::string* error) {
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExA(from.c_str(), to.c_str(), flags)) return MoveResult::Moved;
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return MoveResult::TargetExists;
    *error = SystemMessage(code);
    return MoveResult::Failed;
}

PathKind Examine(const std::string& path, std::string* error) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Folder : PathKind::Other;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return PathKind::None;
    *error = SystemMessage(code);
    return PathKind::Unknown;
}

MoveResult SetAside(const std::string& path, const std::string& aside, std::string* error) {
    if (CreateHardLinkA(aside.c_str(), path.c_str(), nullptr)) return MoveResult::Moved;
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return MoveResult::TargetExists;
    return MoveFileTo(path, aside, false, error);
}

std::size_t NameStart(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? 0 : slash + 1;
}

unsigned long ProcessId() { return GetCurrentProcessId(); }

}  // namespace kx
