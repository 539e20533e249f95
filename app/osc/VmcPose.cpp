#include "app/osc/VmcPose.h"

#include <cmath>

namespace kxhost {
namespace {

constexpr double kHalfRadiansPerDegree = 3.14159265358979323846 / 360;

// Our axes are right-handed with the body's left on +X; Unity's are
// left-handed with it on -X. Mirroring X maps one onto the other: a
// position's x changes sign, and so do a rotation's y and z parts.
void SetPosition(VmcTransform* bone, double x, double y, double z) {
    bone->position[0] = static_cast<float>(0 - x / 100);  // 0 - x: no -0 for a receiver to print
    bone->position[1] = static_cast<float>(y / 100);
    bone->position[2] = static_cast<float>(z / 100);
}

// Angles about X, Y and Z in degrees, composed Z·X·Y (Y applied first):
// the product of the three axis quaternions qz·qx·qy, written out.
void SetRotation(VmcTransform* bone, const Vector& degrees) {
    const double cx = std::cos(degrees.x * kHalfRadiansPerDegree), sx = std::sin(degrees.x * kHalfRadiansPerDegree);
    const double cy = std::cos(degrees.y * kHalfRadiansPerDegree), sy = std::sin(degrees.y * kHalfRadiansPerDegree);
    const double cz = std::cos(degrees.z * kHalfRadiansPerDegree), sz = std::sin(degrees.z * kHalfRadiansPerDegree);
    const double w = cz * cx * cy - sz * sx * sy;
    const double x = cz * sx * cy - sz * cx * sy;
    const double y = cz * cx * sy + sz * sx * cy;
    const double z = cz * sx * sy + sz * cx * cy;
    bone->rotation[0] = static_cast<float>(x);
    bone->rotation[1] = static_cast<float>(0 - y);
    bone->rotation[2] = static_cast<float>(0 - z);
    bone->rotation[3] = static_cast<float>(w);
}

}  // namespace

// Our chest is the one torso joint above the hips; Spine is the humanoid
// bone every avatar has there. The collars are the humanoid's shoulders.
const std::array<const char*, kJointCount>& VmcBoneNames() {
    static const std::array<const char*, kJointCount> names = [] {
        using namespace joint;
        std::array<const char*, kJointCount> n{};
        n[Hips] = "Hips";
        n[LeftHip] = "LeftUpperLeg";
        n[LeftKnee] = "LeftLowerLeg";
        n[LeftAnkle] = "LeftFoot";
        n[RightHip] = "RightUpperLeg";
        n[RightKnee] = "RightLowerLeg";
        n[RightAnkle] = "RightFoot";
        n[Chest] = "Spine";
        n[LeftCollar] = "LeftShoulder";
        n[LeftShoulder] = "LeftUpperArm";
        n[LeftElbow] = "LeftLowerArm";
        n[LeftWrist] = "LeftHand";
        n[RightCollar] = "RightShoulder";
        n[RightShoulder] = "RightUpperArm";
        n[RightElbow] = "RightLowerArm";
        n[RightWrist] = "RightHand";
        n[Neck] = "Neck";
        n[Head] = "Head";
        return n;
    }();
    return names;
}

VmcPose ToVmc(const Frame& frame) {
    VmcPose pose;
    pose.root = VmcTransform{{0, 0, 0}, {0, 0, 0, 1}};
    for (int j = 0; j < kJointCount; ++j) {
        const float* offset = Skeleton()[j].offset;
        if (j == joint::Hips) {
            SetPosition(&pose.bones[j], frame.position.x, frame.position.y, frame.position.z);
        } else {
            SetPosition(&pose.bones[j], offset[0], offset[1], offset[2]);
        }
        SetRotation(&pose.bones[j], frame.rotations[j]);
    }
    return pose;
}

}  // namespace kxhost
