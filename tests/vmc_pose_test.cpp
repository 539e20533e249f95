// Frames as VMC poses: every quaternion turned back into a matrix and
// checked against the frame's angles as Rz·Rx·Ry, and the whole body in
// Unity's axes checked to be ours mirrored.
#include "app/osc/VmcPose.h"
#include "kestrion/motion/SuitMotion.h"
#include "support/Kinematics.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace kxtest;
using kxhost::ToVmc;

// The rotation a quaternion (x, y, z, w) stands for, in its own axes.
Mat3 QuaternionMatrix(const float* q) {
    const double x = q[0], y = q[1], z = q[2], w = q[3];
    return {{{1 - 2 * (y * y + z * z), 2 * (x * y - z * w),     2 * (x * z + y * w)},
             {2 * (x * y + z * w),     1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
             {2 * (x * z - y * w),     2 * (y * z + x * w),     1 - 2 * (x * x + y * y)}}};
}

// A sent rotation, mirrored back into our axes, against the frame's angles.
void ExpectSameRotation(const Vector& angles, const float* sent) {
    EXPECT_NEAR(std::sqrt(sent[0] * sent[0] + sent[1] * sent[1] + sent[2] * sent[2] + sent[3] * sent[3]), 1, 1e-6);
    const float ours[4] = {sent[0], -sent[1], -sent[2], sent[3]};
    const double zxy[3] = {angles.z, angles.x, angles.y};
    const Mat3 m = QuaternionMatrix(ours), expected = Compose("ZXY", zxy);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(m.m[i / 3][i % 3], expected.m[i / 3][i % 3], 2e-6) << "element " << i;
}

TEST(VmcPose, EdgeAnglesDecode) {
    const Vector cases[] = {{0, 180, 0},        {0, -180, 0},      {3, 179.995f, -2},  {3, -179.995f, 2},
                            {89.9f, 40, -25},   {-89.9f, -130, 60}, {89.94f, 170, 10}, {90, 30, 20},
                            {-90, -45, 100},    {0, 0, 180},        {-45, 90, -90},    {0, 0, 0}};
    for (const Vector& angles : cases) {
        Frame frame{};
        frame.rotations[5] = angles;
        ExpectSameRotation(angles, ToVmc(frame).bones[5].rotation);
    }
}

// Every frame of four walks (the edge table holds the turns through 180
// degrees): each joint's rotation decodes to the frame's angles, and its
// place in the room, found through the hierarchy from what is sent (m), is
// where the frame draws it (cm) with X mirrored.
TEST(VmcPose, WalksInUnityAxesAreOursMirrored) {
    for (int suit = 0; suit < 4; ++suit) {
        for (int k = 0; k < 30 * 40; ++k) {
            Frame frame;
            kestrion::ComputePose(suit, k / 40.0, kestrion::MotionSettings(), &frame);
            const kxhost::VmcPose pose = ToVmc(frame);
            for (int i = 0; i < 3; ++i) EXPECT_EQ(pose.root.position[i], 0);
            EXPECT_EQ(pose.root.rotation[3], 1);
            const Posed ours = Draw(frame);
            std::vector<Vec3> place;
            std::vector<Mat3> turn;
            for (int j = 0; j < kJointCount; ++j) {
                SCOPED_TRACE(Skeleton()[j].name);
                ExpectSameRotation(frame.rotations[j], pose.bones[j].rotation);
                const int p = Skeleton()[j].parent;
                const float* sent = pose.bones[j].position;
                const Vec3 local{sent[0], sent[1], sent[2]};
                const Mat3 q = QuaternionMatrix(pose.bones[j].rotation);
                place.push_back(p < 0 ? local : place[p] + turn[p] * local);
                turn.push_back(p < 0 ? q : turn[p] * q);
                EXPECT_LT(Length(place[j] - 0.01 * Vec3{-ours.at[j].x, ours.at[j].y, ours.at[j].z}), 2e-5);
            }
            if (::testing::Test::HasFailure()) FAIL() << "suit " << suit << " at " << k / 40.0 << " s";
        }
    }
    // Unity's humanoid faces +Z with its left on -X.
    EXPECT_STREQ(kxhost::VmcBoneNames()[1], "LeftUpperLeg");
    EXPECT_LT(ToVmc(Frame{}).bones[1].position[0], 0);
}

}  // namespace
