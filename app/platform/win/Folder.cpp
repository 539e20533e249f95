// Names as they are: Windows keeps others from renaming or removing a file
// while it is open for writing here (its deletion is not shared), and from
// renaming the folder that holds it; the moment between closing and
// renaming is not guarded.
#include "app/platform/Folder.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>

namespace kx {

Folder::Folder(const std::string& path) : path_(path.substr(0, NameStart(path))) {}

Folder::~Folder() = default;

bool Folder::Open(std::string*) { return true; }

bool Folder::StillThere() const { return true; }

std::FILE* Folder::CreateNew(const std::string& name, FileId*) {
    const std::string path = path_ + name;
    const int fd = _sopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
                          _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
        const int reason = errno;
        _close(fd);
        _unlink(path.c_str());
        errno = reason;
    }
    return file;
}

bool Folder::Holds(const std::string& name, const FileId&) const {
    const DWORD attributes = GetFileAttributesA((path_ + name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

MoveResult Folder::Move(const std::string& from, const std::string& to, bool replace, std::string* error) {
    return MoveFileTo(path_ + from, path_ + to, replace, error);
}

void Folder::Remove(const std::string& name) { std::remove((path_ + name).c_str()); }

}  // namespace kx
