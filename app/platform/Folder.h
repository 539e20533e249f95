// A folder held open while files are written in it, so that a file is
// committed only when its name still leads to the file this program wrote:
// names are looked up in the folder itself, even once it is renamed, and a
// file is known by its identity rather than by its name.
#pragma once

#include "app/platform/Files.h"

#include <cstdio>
#include <string>

namespace kx {

// Which file a name led to when it was made (device and inode on Linux).
struct FileId {
    unsigned long long device = 0, file = 0;
};

class Folder {
public:
    // The folder of `path`: everything up to its last separator, or the
    // current folder.
    explicit Folder(const std::string& path);
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    // False with the system's reason when it cannot be opened.
    bool Open(std::string* error);
    // Whether the folder's path still leads to this folder.
    bool StillThere() const;

    // Creates `name` in it for writing, only when nothing is under that
    // name, not even a symbolic link; null with errno (EEXIST when taken).
    std::FILE* CreateNew(const std::string& name, FileId* id);
    // Whether `name` leads to the file `id` itself, not through a link.
    bool Holds(const std::string& name, const FileId& id) const;
    // Renames within the folder, as MoveFileTo does.
    MoveResult Move(const std::string& from, const std::string& to, bool replace, std::string* error);
    void Remove(const std::string& name);

private:
    std::string path_;  // ends in a separator, or is empty
    int fd_ = -1;
    FileId id_;
};

}  // namespace kx
