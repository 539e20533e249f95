// Joint positions from joint angles, the way a 3D program draws a BVH file:
// each joint sits at its parent's position plus the parent's world rotation
// times its offset, and local rotations compose in channel order. Vectors
// and matrices are the suit library's; the conventions are stated here
// afresh.
#pragma once

#include "driver/Frame.h"
#include "kestrion/Rotation.h"

#include <string>
#include <vector>

namespace kxtest {

using kestrion::Mat3;
using kestrion::Vec3;

Vec3 Unit(Vec3 v);
double DegreesBetween(Vec3 a, Vec3 b);
// Rotation by `degrees` about axis 'X', 'Y' or 'Z', counter-clockwise
// looking down the axis.
Mat3 Rotation(char axis, double degrees);
// The product of rotations in the order named: "ZXY" is Rz * Rx * Ry.
Mat3 Compose(const std::string& order, const double* degrees);

// A joint tree, every parent listed before its children.
struct Body {
    std::vector<int> parent;  // -1 for the root
    std::vector<Vec3> offset;
};

struct Posed {
    std::vector<Vec3> at;     // world positions
    std::vector<Mat3> world;  // world rotations
};

Posed Forward(const Body& body, Vec3 root, const std::vector<Mat3>& local);

// The host program's skeleton: its eighteen joints in the frame's order,
// then its five end sites.
enum Point {
    kHips = 0,
    kLeftHip = 1,
    kLeftKnee = 2,
    kLeftAnkle = 3,
    kRightHip = 4,
    kRightKnee = 5,
    kRightAnkle = 6,
    kChest = 7,
    kLeftCollar = 8,
    kLeftShoulder = 9,
    kLeftElbow = 10,
    kLeftWrist = 11,
    kRightCollar = 12,
    kRightShoulder = 13,
    kRightElbow = 14,
    kRightWrist = 15,
    kNeck = 16,
    kHead = 17,
    kLeftToe = 18,
    kRightToe = 19,
    kLeftHand = 20,
    kRightHand = 21,
    kHeadTop = 22
};
// A frame drawn on that skeleton, its angles composed Rz * Rx * Ry.
Posed Draw(const Frame& frame);

}  // namespace kxtest
