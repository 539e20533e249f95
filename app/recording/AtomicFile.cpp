#include "app/recording/AtomicFile.h"

#include "app/platform/Files.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <utility>

namespace kxhost {
namespace {

constexpr std::size_t kNameMax = 255;
constexpr std::size_t kRandomChars = 8;

// The files with a temporary name now, for DiscardAll.
std::mutex openLock;
std::set<AtomicFile*>& OpenFiles() {
    static auto* files = new std::set<AtomicFile*>;  // outlives static destruction
    return *files;
}

std::string RandomPart() {
    static std::mutex lock;
    static std::mt19937_64 generator([] {
        // random_device alone may be predictable on some C libraries.
        std::random_device device;
        std::seed_seq seed{device(), device(), static_cast<unsigned>(kx::ProcessId()),
                           static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
        return std::mt19937_64(seed);
    }());
    static const char digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::lock_guard<std::mutex> guard(lock);
    std::string part;
    for (std::size_t i = 0; i < kRandomChars; ++i) part += digits[generator() % (sizeof digits - 1)];
    return part;
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)), folder_(path_) {}

AtomicFile::~AtomicFile() { Discard(); }

std::string AtomicFile::NameBeside(const std::string& path, const std::string& suffix) {
    const std::size_t start = kx::NameStart(path);
    std::string name = path.substr(start);
    const std::size_t room = kNameMax - 1 - kRandomChars - suffix.size();
    if (name.size() > room) {
        std::size_t cut = room;
        // Not inside a UTF-8 character.
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
        name.resize(cut);
    }
    return path.substr(0, start) + name + "." + RandomPart() + suffix;
}

bool AtomicFile::Open(std::string* error) {
    if (!folder_.Open(error)) return false;
    // Beside the final name, so that the rename stays on one file system.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = NameBeside(path_.substr(kx::NameStart(path_)), ".part");
        file_ = folder_.CreateNew(name, &id_);
        if (file_ != nullptr) {
            temporary_ = name;
            std::lock_guard<std::mutex> guard(openLock);
            OpenFiles().insert(this);
            return true;
        }
        if (errno != EEXIST) break;
    }
    *error = std::strerror(errno);
    return false;
}

bool AtomicFile::Close(std::string* error) {
    if (file_ == nullptr) {
        *error = "not open";
        return false;
    }
    const bool written = kx::FlushToDisk(file_) && std::ferror(file_) == 0;
    const int writeErrno = errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!written || !closed) {
        *error = std::strerror(written ? errno : writeErrno);
        Discard();
        return false;
    }
    return true;
}

AtomicFile::Result AtomicFile::Rename(bool replace, std::string* error) {
    if (file_ != nullptr || temporary_.empty()) {
        *error = "not closed";
        return Result::Failed;
    }
    const std::string name = path_.substr(kx::NameStart(path_));
    if (!folder_.StillThere()) {
        *error = "its folder was moved or replaced while it was written";
    } else if (!folder_.Holds(temporary_, id_)) {
        *error = "its temporary file " + temporary_ + " was replaced or removed while it was written";
    } else {
        const kx::MoveResult moved = folder_.Move(temporary_, name, replace, error);
        if (moved == kx::MoveResult::TargetExists) {
            Discard();
            return Result::Exists;
        }
        if (moved == kx::MoveResult::Moved && folder_.Holds(name, id_)) {
            temporary_.clear();
            Discard();
            return Result::Committed;
        }
        if (moved == kx::MoveResult::Moved) {
            // Swapped between the check and the rename: what was renamed
            // goes back where it was found.
            std::string ignored;
            folder_.Move(name, temporary_, false, &ignored);
            *error = "its temporary file " + temporary_ + " was replaced while it was written";
        }
    }
    Discard();
    return Result::Failed;
}

void AtomicFile::Discard() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    if (!temporary_.empty() && folder_.Holds(temporary_, id_)) folder_.Remove(temporary_);
    temporary_.clear();
    std::lock_guard<std::mutex> guard(openLock);
    OpenFiles().erase(this);
}

void AtomicFile::DiscardAll() {
    std::set<AtomicFile*> files;
    {
        std::lock_guard<std::mutex> guard(openLock);
        files.swap(OpenFiles());
    }
    for (AtomicFile* file : files) file->Discard();
}

}  // namespace kxhost
