// Reading motion capture files in the BVH format: the joint tree with its
// rest offsets and channels, and the frames.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace kestrion {

// Positions along, and rotations in degrees about, the parent's axes.
enum class Channel { Xposition, Yposition, Zposition, Xrotation, Yrotation, Zrotation };

struct BvhJoint {
    std::string name;
    int parent = -1;  // -1 for the root
    int line = 0;     // where it is declared, from 1
    std::array<double, 3> offset{};
    std::vector<Channel> channels;  // in the order they compose
    int firstValue = 0;             // its first channel's place on a frame line
    std::vector<std::array<double, 3>> endSites;
};

struct BvhMotion {
    std::vector<BvhJoint> joints;  // every parent before its children
    double frameSeconds = 0;
    std::size_t frames = 0;
    std::size_t valuesPerFrame = 0;
    std::vector<double> values;  // frame after frame
};

// Parses a whole file's text. When it cannot, returns false with the line
// (from 1) and the reason.
bool ReadBvh(const std::string& text, BvhMotion* motion, int* line, std::string* reason);

}  // namespace kestrion
