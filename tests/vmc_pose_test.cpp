// Frames as VMC poses: every quaternion decoded back to the frame's angles,
// checked against the exported Matrix, and the whole body in Unity's axes
// checked to be ours mirrored.
#include "geometry/Matrix.h"
#include "kestrion-host/VmcPose.h"
#include "kestrion/SuitMotion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using kxhost::Skeleton;
using kxhost::ToVmc;
constexpr double kPi = 3.14159265358979323846;

double Radians(double degrees) { return degrees * kPi / 180; }
double Degrees(double radians) { return radians * 180 / kPi; }

// Rz·Rx·Ry, right-handed, in our axes.
Matrix Rotation(const Vector& degrees) {
    const double x = Radians(degrees.x), y = Radians(degrees.y), z = Radians(degrees.z);
    return Matrix(std::cos(z), -std::sin(z), 0.0, std::sin(z), std::cos(z), 0.0, 0.0, 0.0, 1.0) *
           Matrix(1.0, 0.0, 0.0, 0.0, std::cos(x), -std::sin(x), 0.0, std::sin(x), std::cos(x)) *
           Matrix(std::cos(y), 0.0, std::sin(y), 0.0, 1.0, 0.0, -std::sin(y), 0.0, std::cos(y));
}

// The rotation a quaternion (x, y, z, w) stands for, row-major, in its own axes.
void QuaternionMatrix(const float* q, double m[9]) {
    const double x = q[0], y = q[1], z = q[2], w = q[3];
    const double rows[9] = {1 - 2 * (y * y + z * z), 2 * (x * y - z * w),     2 * (x * z + y * w),
                            2 * (x * y + z * w),     1 - 2 * (x * x + z * z), 2 * (y * z - x * w),
                            2 * (x * z - y * w),     2 * (y * z + x * w),     1 - 2 * (x * x + y * y)};
    std::copy(rows, rows + 9, m);
}

double AngleDifference(double a, double b) { return std::fabs(std::remainder(a - b, 360.0)); }

// A sent rotation, mirrored back into our axes, against the frame's angles.
void ExpectSameRotation(const Vector& angles, const float* sent, const char* where) {
    SCOPED_TRACE(where);
    EXPECT_NEAR(std::sqrt(sent[0] * sent[0] + sent[1] * sent[1] + sent[2] * sent[2] + sent[3] * sent[3]), 1, 1e-6);
    const float ours[4] = {sent[0], -sent[1], -sent[2], sent[3]};
    double m[9];
    QuaternionMatrix(ours, m);
    const Matrix expected = Rotation(angles);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(m[i], expected.m[i], 2e-6) << "element " << i;
    if (std::fabs(angles.x) >= 89.95f) return;  // at the lock only Y+Z (or Y-Z) is defined
    // Z·X·Y angles back from Rz·Rx·Ry: sin x is element (Z,Y).
    EXPECT_LT(AngleDifference(Degrees(std::asin(std::clamp(m[7], -1.0, 1.0))), angles.x), 0.01);
    EXPECT_LT(AngleDifference(Degrees(std::atan2(-m[6], m[8])), angles.y), 0.01);
    EXPECT_LT(AngleDifference(Degrees(std::atan2(-m[1], m[4])), angles.z), 0.01);
}

TEST(VmcPose, WalkDecodesToTheFrameAnglesThroughTheHeadingWrap) {
    int wraps = 0;
    for (int suit = 0; suit < 4; ++suit) {
        float heading = 0;
        for (int k = 0; k < 30 * 40; ++k) {
            Frame frame;
            kestrion::ComputePose(suit, k / 40.0, kestrion::MotionSettings(), &frame);
            const kxhost::VmcPose pose = ToVmc(frame);
            for (int j = 0; j < kxhost::kJointCount; ++j) {
                ExpectSameRotation(frame.rotations[j], pose.bones[j].rotation, kxhost::VmcBoneNames()[j]);
            }
            if (k > 0 && std::fabs(frame.rotations[0].y - heading) > 180) ++wraps;
            heading = frame.rotations[0].y;
            if (::testing::Test::HasFailure()) FAIL() << "suit " << suit << " at " << k / 40.0 << " s";
        }
    }
    EXPECT_GE(wraps, 4) << "the walks never turned through 180 degrees";
}

TEST(VmcPose, EdgeAnglesDecode) {
    const Vector cases[] = {{0, 180, 0},        {0, -180, 0},      {3, 179.995f, -2},  {3, -179.995f, 2},
                            {89.9f, 40, -25},   {-89.9f, -130, 60}, {89.94f, 170, 10}, {90, 30, 20},
                            {-90, -45, 100},    {0, 0, 180},        {-45, 90, -90},    {0, 0, 0}};
    for (const Vector& angles : cases) {
        Frame frame{};
        frame.rotations[5] = angles;
        ExpectSameRotation(angles, ToVmc(frame).bones[5].rotation, "constructed");
    }
}

Vector Plus(Vector a, Vector b) { return Vector(a.x + b.x, a.y + b.y, a.z + b.z); }

// Every joint's place in the room, found through the hierarchy once in our
// axes (cm) and once from what is sent (m): the second must be the first
// with X mirrored.
TEST(VmcPose, BodyInUnityAxesIsOursMirrored) {
    Frame frame;
    kestrion::ComputePose(1, 7.3, kestrion::MotionSettings(), &frame);
    const kxhost::VmcPose pose = ToVmc(frame);
    EXPECT_EQ(std::vector<float>(pose.root.position, pose.root.position + 3), std::vector<float>(3, 0));
    EXPECT_EQ(pose.root.rotation[3], 1);

    Matrix ourTurn[kxhost::kJointCount], sentTurn[kxhost::kJointCount];
    Vector ourPlace[kxhost::kJointCount], sentPlace[kxhost::kJointCount];
    for (int j = 0; j < kxhost::kJointCount; ++j) {
        const int parent = Skeleton()[j].parent;
        const float* offset = Skeleton()[j].offset;
        const float* sent = pose.bones[j].position;
        const Vector ourLocal = parent < 0 ? frame.position : Vector(offset[0], offset[1], offset[2]);
        const Vector sentLocal(sent[0], sent[1], sent[2]);
        double m[9];
        QuaternionMatrix(pose.bones[j].rotation, m);
        const Matrix sentRotation(m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8]);
        if (parent < 0) {
            ourPlace[j] = ourLocal, sentPlace[j] = sentLocal;
            ourTurn[j] = Rotation(frame.rotations[j]), sentTurn[j] = sentRotation;
        } else {
            ourPlace[j] = Plus(ourPlace[parent], ourTurn[parent] * ourLocal);
            sentPlace[j] = Plus(sentPlace[parent], sentTurn[parent] * sentLocal);
            ourTurn[j] = ourTurn[parent] * Rotation(frame.rotations[j]);
            sentTurn[j] = sentTurn[parent] * sentRotation;
        }
        SCOPED_TRACE(Skeleton()[j].name);
        EXPECT_NEAR(sentPlace[j].x, -ourPlace[j].x / 100, 1e-5);
        EXPECT_NEAR(sentPlace[j].y, ourPlace[j].y / 100, 1e-5);
        EXPECT_NEAR(sentPlace[j].z, ourPlace[j].z / 100, 1e-5);
    }
    // Unity's humanoid faces +Z with its left on -X.
    EXPECT_STREQ(kxhost::VmcBoneNames()[1], "LeftUpperLeg");
    EXPECT_LT(sentPlace[1].x, 0);
}

}  // namespace
