// Frames as VMC poses: every quaternion turned back into a matrix and
// checked against the frame's angles as Rz·Rx·Ry, and the whole body in
// Unity's axes checked to be ours mirrored.
#include "geometry/Matrix.h"
#include "kestrion-host/VmcPose.h"
#include "kestrion/SuitMotion.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using kxhost::kJointCount;
using kxhost::Skeleton;
using kxhost::ToVmc;
using std::cos;
using std::sin;
constexpr double kPi = 3.14159265358979323846;

// Rz·Rx·Ry, right-handed, in our axes.
Matrix Rotation(const Vector& degrees) {
    const double x = degrees.x * kPi / 180, y = degrees.y * kPi / 180, z = degrees.z * kPi / 180;
    return Matrix(cos(z), -sin(z), 0.0, sin(z), cos(z), 0.0, 0.0, 0.0, 1.0) *
           Matrix(1.0, 0.0, 0.0, 0.0, cos(x), -sin(x), 0.0, sin(x), cos(x)) *
           Matrix(cos(y), 0.0, sin(y), 0.0, 1.0, 0.0, -sin(y), 0.0, cos(y));
}

// The rotation a quaternion (x, y, z, w) stands for, in its own axes.
Matrix QuaternionMatrix(const float* q) {
    const double x = q[0], y = q[1], z = q[2], w = q[3];
    return Matrix(1 - 2 * (y * y + z * z), 2 * (x * y - z * w),     2 * (x * z + y * w),
                  2 * (x * y + z * w),     1 - 2 * (x * x + z * z), 2 * (y * z - x * w),
                  2 * (x * z - y * w),     2 * (y * z + x * w),     1 - 2 * (x * x + y * y));
}

// A sent rotation, mirrored back into our axes, against the frame's angles.
void ExpectSameRotation(const Vector& angles, const float* sent) {
    EXPECT_NEAR(std::sqrt(sent[0] * sent[0] + sent[1] * sent[1] + sent[2] * sent[2] + sent[3] * sent[3]), 1, 1e-6);
    const float ours[4] = {sent[0], -sent[1], -sent[2], sent[3]};
    const Matrix m = QuaternionMatrix(ours), expected = Rotation(angles);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(m.m[i], expected.m[i], 2e-6) << "element " << i;
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
// degrees): each joint's rotation decodes to the frame's angles, and its place in the room, found
// through the hierarchy once in our axes (cm) and once from what is sent (m),
// is ours with X mirrored. Slot 0 is the room; joint j is at j + 1.
TEST(VmcPose, WalksInUnityAxesAreOursMirrored) {
    const auto plus = [](Vector a, Vector b) { return Vector(a.x + b.x, a.y + b.y, a.z + b.z); };
    for (int suit = 0; suit < 4; ++suit) {
        for (int k = 0; k < 30 * 40; ++k) {
            Frame frame;
            kestrion::ComputePose(suit, k / 40.0, kestrion::MotionSettings(), &frame);
            const kxhost::VmcPose pose = ToVmc(frame);
            for (int i = 0; i < 3; ++i) EXPECT_EQ(pose.root.position[i], 0);
            EXPECT_EQ(pose.root.rotation[3], 1);
            Matrix ourTurn[kJointCount + 1], sentTurn[kJointCount + 1];
            Vector ourPlace[kJointCount + 1]{}, sentPlace[kJointCount + 1]{};
            ourTurn[0] = sentTurn[0] = Rotation(Vector(0, 0, 0));
            for (int j = 0; j < kJointCount; ++j) {
                SCOPED_TRACE(Skeleton()[j].name);
                ExpectSameRotation(frame.rotations[j], pose.bones[j].rotation);
                const int p = Skeleton()[j].parent + 1;
                const float *offset = Skeleton()[j].offset, *sent = pose.bones[j].position;
                const Vector ourLocal = p == 0 ? frame.position : Vector(offset[0], offset[1], offset[2]);
                ourPlace[j + 1] = plus(ourPlace[p], ourTurn[p] * ourLocal);
                sentPlace[j + 1] = plus(sentPlace[p], sentTurn[p] * Vector(sent[0], sent[1], sent[2]));
                ourTurn[j + 1] = ourTurn[p] * Rotation(frame.rotations[j]);
                sentTurn[j + 1] = sentTurn[p] * QuaternionMatrix(pose.bones[j].rotation);
                EXPECT_NEAR(sentPlace[j + 1].x, -ourPlace[j + 1].x / 100, 1e-5);
                EXPECT_NEAR(sentPlace[j + 1].y, ourPlace[j + 1].y / 100, 1e-5);
                EXPECT_NEAR(sentPlace[j + 1].z, ourPlace[j + 1].z / 100, 1e-5);
            }
            if (::testing::Test::HasFailure()) FAIL() << "suit " << suit << " at " << k / 40.0 << " s";
        }
    }
    // Unity's humanoid faces +Z with its left on -X.
    EXPECT_STREQ(kxhost::VmcBoneNames()[1], "LeftUpperLeg");
    EXPECT_LT(ToVmc(Frame{}).bones[1].position[0], 0);
}

}  // namespace
