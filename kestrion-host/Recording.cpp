#include "kestrion-host/Recording.h"

#include "kestrion-host/Failure.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace kxhost {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool EndsWithBvh(const std::string& path) {
    return path.size() >= 4 && Lower(path.substr(path.size() - 4)) == ".bvh";
}

bool Exists(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file != nullptr) std::fclose(file);
    return file != nullptr || errno != ENOENT;
}

}  // namespace

std::vector<std::string> Recording::FileNames(const std::string& path, const std::vector<int>& suits) {
    if (!EndsWithBvh(path) || suits.size() == 1) return {path};
    std::vector<std::string> names;  // none for no suits
    const std::string stem = path.substr(0, path.size() - 4), extension = path.substr(path.size() - 4);
    for (int suit : suits) names.push_back(stem + "-suit" + std::to_string(suit) + extension);
    return names;
}

Recording::Recording(std::string path, std::vector<int> suits, double rate, bool replace)
    : path_(std::move(path)), suits_(std::move(suits)), rate_(rate), replace_(replace), bvh_(EndsWithBvh(path_)) {
    names_ = FileNames(path_, suits_);
}

void Recording::RefuseExisting(const std::vector<std::string>& names, bool replace) {
    for (const std::string& name : names) {
        if (!replace && Exists(name)) throw Failure(kExitFailure, name + " exists; add --force to overwrite it");
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
    for (std::size_t i = 0; i < files_.size(); ++i) {
        std::string error;
        const AtomicFile::Result result = files_[i]->Commit(replace_, &error);
        if (result != AtomicFile::Result::Committed) {
            // All or nothing: take back the files already named.
            for (std::size_t done = 0; done < i; ++done) std::remove(names_[done].c_str());
            if (result == AtomicFile::Result::Exists) {
                throw Failure(kExitFailure, names_[i] + " appeared meanwhile; add --force to overwrite it");
            }
            throw Failure(kExitFailure, "cannot write " + names_[i] + ": " + error);
        }
    }
}

void Recording::WriteError(const AtomicFile& file) const {
    throw Failure(kExitFailure, "cannot write " + file.Path() + ": " + std::strerror(errno));
}

}  // namespace kxhost
