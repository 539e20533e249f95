// A suit frame as a humanoid pose of the VMC protocol: Unity's axes
// (left-handed, Y up, the body facing +Z with its left on -X), metres, and
// unit quaternions in the order x, y, z, w.
#pragma once

#include "driver/Frame.h"
#include "driver/Skeleton.h"

#include <array>

namespace kxhost {

struct VmcTransform {
    float position[3];  // metres
    float rotation[4];  // x, y, z, w
};

struct VmcPose {
    // The avatar's origin: the room's own, never moved or turned.
    VmcTransform root;
    // In the frame's joint order, each relative to its parent joint. The
    // hips carry the frame's position; every other bone the skeleton's
    // offset from its parent.
    std::array<VmcTransform, kJointCount> bones;
};

// The protocol's name of each joint's bone, in the frame's joint order.
const std::array<const char*, kJointCount>& VmcBoneNames();

VmcPose ToVmc(const Frame& frame);

}  // namespace kxhost
