// The eighteen joints of a suit, in the order of a Frame's rotations. The
// order is also a depth-first walk of the body's tree: every joint comes
// after its parent.
#pragma once

namespace joint {

enum Id : int {
    Hips,
    LeftHip,
    LeftKnee,
    LeftAnkle,
    RightHip,
    RightKnee,
    RightAnkle,
    Chest,
    LeftCollar,
    LeftShoulder,
    LeftElbow,
    LeftWrist,
    RightCollar,
    RightShoulder,
    RightElbow,
    RightWrist,
    Neck,
    Head,
    Count
};

}  // namespace joint

constexpr int kJointCount = joint::Count;
