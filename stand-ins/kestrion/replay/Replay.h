// Captured motion played through a simulated suit: a BVH file's frames
// mapped onto the suit's eighteen joints, or the frames of one of our own
// CSV recordings as they are.
#pragma once

#include "driver/Frame.h"
#include "kestrion/replay/Limits.h"
#include "kestrion/motion/SuitMotion.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrion {

// One frame as a suit delivers it: the hips' position (cm) and the
// eighteen joints' angles.
struct ReplayFrame {
    Vector position;
    Vector rotations[kJointCount];
};

class Replay {
public:
    Replay(double frameSeconds, std::vector<ReplayFrame> frames)
        : frameSeconds_(frameSeconds), frames_(std::move(frames)) {}

    std::size_t Frames() const { return frames_.size(); }
    double FrameSeconds() const { return frameSeconds_; }

    // The frame that plays `seconds` after the start, looping, as the suit
    // delivers it: null position and north applied; the modes change nothing
    // in captured motion.
    void Pose(double seconds, const MotionSettings& settings, Frame* frame) const;
    // The uncalibrated horizontal position and heading, as RawPlacement.
    void Placement(double seconds, float* x, float* z, float* headingDegrees) const;

private:
    const ReplayFrame& At(double seconds) const;

    double frameSeconds_;
    std::vector<ReplayFrame> frames_;
};

using Replays = std::vector<std::shared_ptr<const Replay>>;

// What the files of one list may still take (Limits.h).
struct ReplayBudget {
    std::size_t bytes = kMaxReplayBytes;
    std::size_t frames = kMaxReplayFrames;
};

// The motion in a file's text, added to `replays`: a BVH file's, or each
// suit's of one of our CSV recordings, in the order they first appear. CSV
// by the name's ending (.csv, in any case). False with `error` naming the
// file (`name`), the line and the reason.
bool ReplaysFromText(std::string_view text, const std::string& name, ReplayBudget* budget, Replays* replays,
                     std::string* error);
// The same from the file at `path`. What is not a regular file within the
// budget is refused before it is read.
bool LoadReplayFile(const std::string& path, ReplayBudget* budget, Replays* replays, std::string* error);
// The names in a comma-separated list; false when one is empty.
bool SplitReplayList(const std::string& list, std::vector<std::string>* paths);

}  // namespace kestrion
