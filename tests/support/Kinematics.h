// Joint positions from joint angles, the way a 3D program draws a BVH file:
// each joint sits at its parent's position plus the parent's world rotation
// times its offset, and local rotations compose in channel order. Vectors
// and matrices are the suit library's; the conventions are stated here
// afresh.
#pragma once

#include "driver/Frame.h"
#include "driver/Skeleton.h"
#include "kestrion/motion/Rotation.h"

#include <cmath>
#include <string>
#include <vector>

namespace kxtest {

using kestrion::Mat3;
using kestrion::Vec3;
constexpr double kPi = 3.14159265358979323846;

inline double DegreesBetween(Vec3 a, Vec3 b) { return std::atan2(Length(Cross(a, b)), Dot(a, b)) * 180 / kPi; }

// By `degrees` about axis 'X', 'Y' or 'Z', counter-clockwise looking down
// the axis.
inline Mat3 Rotation(char axis, double degrees) {
    const double c = std::cos(degrees * kPi / 180), s = std::sin(degrees * kPi / 180);
    const int i = (axis - 'X' + 1) % 3, j = (i + 1) % 3;  // the axes it turns, from one to the other
    Mat3 r;
    r.m[i][i] = r.m[j][j] = c;
    r.m[i][j] = -s;
    r.m[j][i] = s;
    return r;
}

// The product in the order named: "ZXY" is Rz * Rx * Ry.
inline Mat3 Compose(const std::string& order, const double* degrees) {
    Mat3 r;
    for (std::size_t k = 0; k < order.size(); ++k) r = r * Rotation(order[k], degrees[k]);
    return r;
}

// A joint of a tree listed parents first; `still`: without channels in a file.
struct Bone {
    std::string name;
    int parent;  // -1 for the root
    Vec3 offset;
    bool still = false;
};
using Body = std::vector<Bone>;

struct Posed {
    std::vector<Vec3> at;     // world positions
    std::vector<Mat3> world;  // world rotations
};

inline Posed Forward(const Body& body, Vec3 root, const std::vector<Mat3>& local) {
    Posed p;
    for (std::size_t j = 0; j < body.size(); ++j) {
        const int up = body[j].parent;
        const Mat3 r = j < local.size() ? local[j] : Mat3();
        p.at.push_back(up < 0 ? root + body[j].offset : p.at[up] + p.world[up] * body[j].offset);
        p.world.push_back(up < 0 ? r : p.world[up] * r);
    }
    return p;
}

// The host program's skeleton: its eighteen joints in the frame's order,
// then its end sites, named after their joints.
enum Point { kHips, kLeftHip, kLeftKnee, kLeftAnkle, kRightHip, kRightKnee, kRightAnkle, kChest, kLeftCollar,
             kLeftShoulder, kLeftElbow, kLeftWrist, kRightCollar, kRightShoulder, kRightElbow, kRightWrist, kNeck,
             kHead, kLeftToe, kRightToe, kLeftHand, kRightHand, kHeadTop };

inline const Body& OurBody() {
    static const Body body = [] {
        Body b;
        for (const SkeletonJoint& j : Skeleton())
            b.push_back({j.name, j.parent, {j.offset[0], j.offset[1], j.offset[2]}});
        for (int j = 0; j < kJointCount; ++j) {
            const float* e = Skeleton()[j].endSite;
            if (Skeleton()[j].leaf) b.push_back({b[j].name + "_End", j, {e[0], e[1], e[2]}});
        }
        return b;
    }();
    return body;
}

// A frame drawn on that skeleton, its angles composed Rz * Rx * Ry.
inline Posed Draw(const Frame& f) {
    std::vector<Mat3> local;
    for (const Vector& r : f.rotations) {
        const double zxy[3] = {r.z, r.x, r.y};
        local.push_back(Compose("ZXY", zxy));
    }
    return Forward(OurBody(), {f.position.x, f.position.y, f.position.z}, local);
}

}  // namespace kxtest
