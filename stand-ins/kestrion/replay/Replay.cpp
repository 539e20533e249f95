#include "kestrion/replay/Replay.h"

#include "kestrion/replay/BvhReplay.h"
#include "kestrion/replay/CsvReader.h"
#include "kestrion/replay/Quoted.h"
#include "kestrion/motion/Rotation.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kestrion {
namespace {

// Room for a long path in a message, cut short all the same.
constexpr std::size_t kQuotedPath = 200;

bool IsCsv(const std::string& name) {
    if (name.size() < 4) return false;
    std::string ending = name.substr(name.size() - 4);
    for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ending == ".csv";
}

double Mebibytes(std::size_t bytes) { return double(bytes) / double(1 << 20); }

// Why the file at `path` cannot be read within `budget`, before reading it:
// a FIFO or a device would never end, or end only after gigabytes.
bool Readable(const std::string& path, const ReplayBudget& budget, std::size_t* size, std::string* why) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) {
        *why = "no such file";
    } else if (error) {
        *why = error.message();
    } else if (status.type() == fs::file_type::directory) {
        *why = "it is a folder";
    } else if (status.type() != fs::file_type::regular) {
        *why = "it is not a regular file but a device, a FIFO or a socket";
    } else {
        const std::uintmax_t bytes = fs::file_size(path, error);
        if (error) {
            *why = error.message();
        } else if (bytes > budget.bytes) {
            char text[160];
            if (budget.bytes == kMaxReplayBytes) {
                std::snprintf(text, sizeof text, "it is %.1f MiB, more than the %.0f MiB replays may take",
                              Mebibytes(bytes), Mebibytes(kMaxReplayBytes));
            } else {
                std::snprintf(text, sizeof text,
                              "it is %.1f MiB, more than the %.1f MiB left of the %.0f MiB replays may take together",
                              Mebibytes(bytes), Mebibytes(budget.bytes), Mebibytes(kMaxReplayBytes));
            }
            *why = text;
        } else {
            *size = std::size_t(bytes);
            return true;
        }
    }
    return false;
}

}  // namespace

const ReplayFrame& Replay::At(double seconds) const {
    const double n = std::floor(seconds / frameSeconds_);
    const long long count = static_cast<long long>(frames_.size());
    const long long index = n > 0 ? static_cast<long long>(std::fmod(n, double(count))) : 0;
    return frames_[std::size_t(index)];
}

void Replay::Pose(double seconds, const MotionSettings& s, Frame* f) const {
    const ReplayFrame& sample = At(seconds);
    f->position = Vector(sample.position.x - s.nullX, sample.position.y, sample.position.z - s.nullZ);
    for (int j = 0; j < kJointCount; ++j) f->rotations[j] = sample.rotations[j];
    if (s.northDegrees != 0) {
        const Vector& hips = sample.rotations[joint::Hips];
        f->rotations[joint::Hips] = ToSuitAngles(AxisRotation(1, -s.northDegrees) * FromSuitAngles(hips), hips);
    }
}

void Replay::Placement(double seconds, float* x, float* z, float* headingDegrees) const {
    const ReplayFrame& sample = At(seconds);
    *x = sample.position.x;
    *z = sample.position.z;
    const Vec3 ahead = FromSuitAngles(sample.rotations[joint::Hips]) * Vec3{0, 0, 1};
    *headingDegrees = float(std::atan2(ahead.x, ahead.z) * 180 / 3.14159265358979323846);
}

bool ReplaysFromText(std::string_view text, const std::string& name, ReplayBudget* budget, Replays* replays,
                     std::string* error) {
    std::size_t line = 0, frames = 0;
    std::string reason;
    bool read;
    if (IsCsv(name)) {
        std::vector<CsvTake> takes;
        read = ReadCsv(text, budget->frames, &takes, &line, &reason);
        for (CsvTake& take : takes) {
            frames += take.frames.size();
            if (read) replays->push_back(std::make_shared<Replay>(take.frameSeconds, std::move(take.frames)));
        }
    } else {
        double frameSeconds = 0;
        std::vector<ReplayFrame> motion;
        read = ReplayBvh(text, budget->frames, &frameSeconds, &motion, &line, &reason);
        frames = motion.size();
        if (read) replays->push_back(std::make_shared<Replay>(frameSeconds, std::move(motion)));
    }
    if (!read) {
        *error = Quoted(name, kQuotedPath) + " line " + std::to_string(line) + ": " + reason;
        return false;
    }
    budget->frames -= frames;
    return true;
}

bool LoadReplayFile(const std::string& path, ReplayBudget* budget, Replays* replays, std::string* error) {
    std::size_t size = 0;
    std::string why;
    if (!Readable(path, *budget, &size, &why)) {
        *error = "cannot read " + Quoted(path, kQuotedPath) + ": " + why;
        return false;
    }
    std::string text(size, '\0');
    std::ifstream file(path, std::ios::binary);
    // A file that shrank since is read as far as it goes; one that grew,
    // as far as it went.
    if (!file || (!file.read(&text[0], std::streamsize(size)).good() && !file.eof())) {
        *error = "cannot read " + Quoted(path, kQuotedPath) + ": " + std::strerror(errno);
        return false;
    }
    text.resize(std::size_t(file.gcount()));
    budget->bytes -= size;
    return ReplaysFromText(text, path, budget, replays, error);
}

bool SplitReplayList(const std::string& list, std::vector<std::string>* paths) {
    paths->clear();
    for (std::size_t start = 0;;) {
        const std::size_t comma = list.find(',', start);
        paths->push_back(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (paths->back().empty()) return false;
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

}  // namespace kestrion
