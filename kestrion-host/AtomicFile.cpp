#include "kestrion-host/AtomicFile.h"

#include "platform/Files.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace kxhost {

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {}

AtomicFile::~AtomicFile() { Discard(); }

bool AtomicFile::Open(std::string* error) {
    // Beside the final name, so that the rename stays on one file system.
    temporary_ = path_ + "." + std::to_string(kx::ProcessId()) + ".part";
    file_ = std::fopen(temporary_.c_str(), "wb");
    if (file_ == nullptr) {
        *error = std::strerror(errno);
        temporary_.clear();
        return false;
    }
    return true;
}

AtomicFile::Result AtomicFile::Commit(bool replace, std::string* error) {
    if (file_ == nullptr) {
        *error = "not open";
        return Result::Failed;
    }
    const bool written = kx::FlushToDisk(file_) && std::ferror(file_) == 0;
    const int writeErrno = errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!written || !closed) {
        *error = std::strerror(written ? errno : writeErrno);
        Discard();
        return Result::Failed;
    }
    const kx::MoveResult moved = kx::MoveFileTo(temporary_, path_, replace, error);
    if (moved != kx::MoveResult::Moved) {
        Discard();
        return moved == kx::MoveResult::TargetExists ? Result::Exists : Result::Failed;
    }
    temporary_.clear();
    return Result::Committed;
}

void AtomicFile::Discard() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    if (!temporary_.empty()) std::remove(temporary_.c_str());
    temporary_.clear();
}

}  // namespace kxhost
