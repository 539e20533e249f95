// The body of a suit frame as a joint tree: the eighteen rotations of a
// Frame, in the Frame's order, which is also a depth-first order of the tree.
#pragma once

#include <array>

namespace kxhost {

struct Joint {
    const char* name;        // as in a BVH file: "LeftKnee"
    const char* columnName;  // as in a CSV header: "left_knee"
    int parent;              // index of the parent joint, -1 for the root
    float offset[3];         // from the parent, cm, in the T-pose facing +Z
    bool leaf;               // carries an end site
    float endSite[3];        // from the joint, cm, when `leaf`
};

constexpr int kJointCount = 18;

const std::array<Joint, kJointCount>& Skeleton();

}  // namespace kxhost
