// The body of a suit frame as a joint tree, for those who draw, record or
// simulate it: each joint's names, parent and rest offset.
#pragma once

#include "driver/Joint.h"

#include <array>
#include <cstddef>
#include <string>

struct SkeletonJoint {
    const char* name;        // as in a BVH file: "LeftKnee"
    const char* columnName;  // as in a CSV header: "left_knee"
    int parent;              // the parent joint, -1 for the root
    float offset[3];         // from the parent, cm, in the T-pose facing +Z
    bool leaf;               // carries an end site
    float endSite[3];        // from the joint, cm, when `leaf`
};

// Indexed by joint::Id.
const std::array<SkeletonJoint, kJointCount>& Skeleton();

// A recording's CSV columns: frame, time, suit, the position, then each
// joint's three angles; what our recordings write and our replays read.
constexpr std::size_t kCsvColumns = 6 + 3 * kJointCount;
// Column `i`'s name in the header: "frame", "x_cm", "left_knee_y_deg".
std::string CsvColumn(std::size_t i);
