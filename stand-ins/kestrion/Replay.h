// Captured motion played through a simulated suit: a BVH file's frames,
// mapped onto the suit's eighteen joints and their conventions.
#pragma once

#include "driver/Frame.h"
#include "kestrion/SuitMotion.h"

#include <memory>
#include <string>
#include <vector>

namespace kestrion {

class Replay {
public:
    // The file at `path`, or null with `error` naming the file, the line and
    // the reason when it cannot be played.
    static std::shared_ptr<const Replay> Load(const std::string& path, std::string* error);
    // The same from a file's text; `name` stands for the file in messages.
    static std::shared_ptr<const Replay> FromText(const std::string& text, const std::string& name, std::string* error);

    std::size_t Frames() const { return frames_.size(); }

    // The frame that plays `seconds` after the start, looping, as the suit
    // delivers it: null position and north applied; the modes change nothing
    // in captured motion.
    void Pose(double seconds, const MotionSettings& settings, Frame* frame) const;
    // The uncalibrated horizontal position and heading, as RawPlacement.
    void Placement(double seconds, float* x, float* z, float* headingDegrees) const;

private:
    struct Sample {
        Vector position;
        Vector rotations[kJointCount];
    };
    const Sample& At(double seconds) const;

    double frameSeconds_ = 0;
    std::vector<Sample> frames_;
};

// The files of a comma-separated list, in order; false with `error` set when
// the list is malformed or a file cannot be played.
bool LoadReplays(const std::string& list, std::vector<std::shared_ptr<const Replay>>* replays, std::string* error);

}  // namespace kestrion
