#include "app/recording/Recording.h"

#include "app/base/Failure.h"
#include "app/base/Text.h"
#include "app/platform/Files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace kxhost {
namespace {

// Keeps the file under `name`, if there is one, also under a fresh name
// beside it (in `kept`), until the new file has taken its place.
bool KeepOld(const std::string& name, std::string* kept, std::string* error) {
    std::string ignored;
    // A folder no file can replace: the rename reports it.
    if (kx::Examine(name, &ignored) != kx::PathKind::Other) return true;
    for (int attempt = 0; attempt < 100; ++attempt) {
        *kept = AtomicFile::NameBeside(name, ".old");
        const kx::MoveResult result = kx::SetAside(name, *kept, error);
        if (result == kx::MoveResult::Moved) return true;
        if (result == kx::MoveResult::Failed) break;
    }
    kept->clear();
    return false;
}

}  // namespace

Recording::Format Recording::FormatOf(const std::string& path) {
    if (path.size() < 4) return Format::None;
    std::string ending = path.substr(path.size() - 4);
    std::transform(ending.begin(), ending.end(), ending.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ending == ".bvh" ? Format::Bvh : ending == ".csv" ? Format::Csv : Format::None;
}

std::vector<std::string> Recording::FileNames(const std::string& path, const std::vector<int>& suits) {
    if (FormatOf(path) != Format::Bvh || suits.size() == 1) return {path};
    std::vector<std::string> names;  // none for no suits
    const std::string stem = path.substr(0, path.size() - 4), extension = path.substr(path.size() - 4);
    for (int suit : suits) names.push_back(stem + "-suit" + std::to_string(suit) + extension);
    return names;
}

Recording::Recording(std::string path, std::vector<int> suits, double rate, bool replace)
    : path_(std::move(path)), suits_(std::move(suits)), rate_(rate), replace_(replace), bvh_(FormatOf(path_) == Format::Bvh) {
    names_ = FileNames(path_, suits_);
}

void Recording::RefuseExisting(const std::vector<std::string>& names, bool replace) {
    for (const std::string& name : names) {
        std::string error;
        switch (kx::Examine(name, &error)) {
            case kx::PathKind::None:
                break;
            case kx::PathKind::Folder:
                throw Failure(kExitFailure, "cannot write " + name + ": it is a folder");
            case kx::PathKind::Other:
                if (!replace) throw Failure(kExitFailure, name + " exists; add --force to overwrite it");
                break;
            case kx::PathKind::Unknown:
                throw Failure(kExitFailure, "cannot write " + name + ": " + error);
        }
    }
}

void Recording::Open() {
    RefuseExisting(names_, replace_);
    for (const std::string& name : names_) {
        files_.push_back(std::make_unique<AtomicFile>(name));
        std::string error;
        if (!files_.back()->Open(&error)) throw Failure(kExitFailure, "cannot write " + name + ": " + error);
    }
    if (bvh_) {
        for (std::size_t i = 0; i < files_.size(); ++i) {
            bvhWriters_.emplace_back(files_[i]->Stream(), 1.0 / rate_);
            if (!bvhWriters_.back().Begin()) WriteError(*files_[i]);
        }
    } else {
        csv_ = std::make_unique<CsvWriter>(files_.front()->Stream());
        if (!csv_->Begin()) WriteError(*files_.front());
    }
}

void Recording::Add(const std::vector<Frame>& frames) {
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (bvh_) {
            if (!bvhWriters_[i].Add(frames[i])) WriteError(*files_[i]);
        } else if (!csv_->Add(frames_, static_cast<double>(frames_) / rate_, suits_[i], frames[i])) {
            WriteError(*files_.front());
        }
    }
    ++frames_;
}

void Recording::Commit() {
    for (std::size_t i = 0; i < bvhWriters_.size(); ++i) {
        if (!bvhWriters_[i].Finish()) WriteError(*files_[i]);
    }
    for (const auto& file : files_) {
        std::string error;
        if (!file->Close(&error)) throw Failure(kExitFailure, "cannot write " + file->Path() + ": " + error);
    }
    // All or nothing: the files replaced stay under a second name until
    // every new one has its name, and get theirs back otherwise.
    std::vector<std::string> kept(names_.size());
    auto takeBack = [&](std::size_t named) {
        for (std::size_t i = 0; i < names_.size(); ++i) {
            std::string ignored;
            if (!kept[i].empty()) {
                kx::MoveFileTo(kept[i], names_[i], true, &ignored);
                std::remove(kept[i].c_str());  // still there when it was a second link
            } else if (i < named) {
                std::remove(names_[i].c_str());
            }
        }
    };
    for (std::size_t i = 0; replace_ && i < names_.size(); ++i) {
        std::string error;
        if (!KeepOld(names_[i], &kept[i], &error)) {
            takeBack(0);
            throw Failure(kExitFailure, "cannot replace " + names_[i] + ": cannot keep it meanwhile: " + error);
        }
    }
    for (std::size_t i = 0; i < files_.size(); ++i) {
        std::string error;
        const AtomicFile::Result result = files_[i]->Rename(replace_, &error);
        if (result != AtomicFile::Result::Committed) {
            takeBack(i);
            if (result == AtomicFile::Result::Exists) {
                throw Failure(kExitFailure, names_[i] + " appeared meanwhile; add --force to overwrite it");
            }
            throw Failure(kExitFailure, "cannot write " + names_[i] + ": " + error);
        }
    }
    for (const std::string& old : kept) {
        if (!old.empty()) std::remove(old.c_str());
    }
}

std::string Recording::Wrote(const std::string& names) const {
    return "Wrote " + names + " (" + std::to_string(frames_) + " frames, " + Number(static_cast<double>(frames_) / rate_) +
           " s)";
}

void Recording::WriteError(const AtomicFile& file) const {
    throw Failure(kExitFailure, "cannot write " + file.Path() + ": " + std::strerror(errno));
}

}  // namespace kxhost
