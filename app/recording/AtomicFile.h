// A file that gets its name only once it is complete: it is written under a
// temporary name beside its final one and renamed at the end. Until then,
// and if it is never renamed, nothing exists under the final name. Only the
// file this program wrote is ever renamed or removed: a temporary name that
// leads elsewhere by then, or a folder moved meanwhile, fails the rename.
#pragma once

#include "app/platform/Folder.h"

#include <cstdio>
#include <string>

namespace kxhost {

class AtomicFile {
public:
    explicit AtomicFile(std::string path);
    // Removes the temporary file unless it was renamed.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file, under a fresh name that nothing else had;
    // false with the reason otherwise.
    bool Open(std::string* error);
    std::FILE* Stream() const { return file_; }
    // Writes the file to disk and closes it; false with the reason, and the
    // temporary file removed, otherwise.
    bool Close(std::string* error);
    enum class Result { Committed, Exists, Failed };
    // Gives the closed file its name; without `replace`, refuses a name that
    // exists by now. Anything but Committed removes the temporary file, if
    // it is still this program's; `error` holds the reason for Failed.
    Result Rename(bool replace, std::string* error);
    // Closes and removes the temporary file.
    void Discard();

    // Discards every temporary file of the program: for an end that cannot
    // unwind the stack.
    static void DiscardAll();
    // An unused-looking name beside `path`: its name, cut so the whole fits
    // in a file name's 255 bytes, a random part, then `suffix`.
    static std::string NameBeside(const std::string& path, const std::string& suffix);

    const std::string& Path() const { return path_; }

private:
    const std::string path_;
    kx::Folder folder_;
    std::string temporary_;  // in folder_
    kx::FileId id_;
    std::FILE* file_ = nullptr;
};

}  // namespace kxhost
