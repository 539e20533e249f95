// A file that gets its name only once it is complete: it is written under a
// temporary name beside its final one and renamed by Commit. Until then, and
// if it is never committed, nothing exists under the final name.
#pragma once

#include <cstdio>
#include <string>

namespace kxhost {

class AtomicFile {
public:
    explicit AtomicFile(std::string path);
    // Removes the temporary file unless it was committed.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file; false with the reason otherwise.
    bool Open(std::string* error);
    std::FILE* Stream() const { return file_; }
    enum class Result { Committed, Exists, Failed };
    // Writes the file to disk, closes it and gives it its name; without
    // `replace`, refuses a name that exists by now. Anything but Committed
    // removes the temporary file; `error` holds the reason for Failed.
    Result Commit(bool replace, std::string* error);
    // Closes and removes the temporary file.
    void Discard();

    const std::string& Path() const { return path_; }

private:
    const std::string path_;
    std::string temporary_;
    std::FILE* file_ = nullptr;
};

}  // namespace kxhost
