// Reading motion capture files in the BVH format: the joint tree with its
// rest offsets and channels, then the frames one line at a time, so that
// nothing but the caller's own result grows with the file.
#pragma once

#include "kestrion/replay/TextScanner.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kestrion {

// Positions along, and rotations in degrees about, the parent's axes.
enum class Channel { Xposition, Yposition, Zposition, Xrotation, Yrotation, Zrotation };

struct BvhJoint {
    std::string name;
    int parent = -1;        // -1 for the root
    std::size_t line = 0;   // where it is declared, from 1
    std::array<double, 3> offset{};
    std::vector<Channel> channels;  // in the order they compose
    std::size_t firstValue = 0;     // its first channel's place on a frame line
    std::vector<std::array<double, 3>> endSites;
};

struct BvhMotion {
    std::vector<BvhJoint> joints;  // every parent before its children
    double frameSeconds = 0;
    std::size_t frames = 0;  // as Frames: says; the frame lines must agree
    std::size_t valuesPerFrame = 0;
};

class BvhReader {
public:
    // A Frames: count above `maxFrames` is refused.
    BvhReader(std::string_view text, std::size_t maxFrames);

    // The joint tree and the motion header.
    bool ReadHeader(BvhMotion* motion);
    // The next frame line's valuesPerFrame values; false after the last
    // frame, and on a fault.
    bool ReadFrame(double* values);

    // Records a fault, at the line read last; returns false.
    bool Fail(std::string reason);
    bool Failed() const { return !reason_.empty(); }
    std::size_t Line() const { return line_; }
    const std::string& Reason() const { return reason_; }

private:
    bool Expect(const char* what);
    bool ReadNumber(const char* what, double* out);
    bool ReadCount(const char* what, double least, double most, double* out);
    bool Hierarchy();
    bool Channels(BvhJoint& joint);
    bool MotionHeader();

    TextScanner text_;
    const std::size_t maxFrames_;
    BvhMotion* m_ = nullptr;
    std::size_t framesLine_ = 0, read_ = 0;
    std::size_t line_ = 0;
    std::string reason_;
};

}  // namespace kestrion
