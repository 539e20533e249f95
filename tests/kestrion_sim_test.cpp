// The simulated suits: motion that a 3D program shows as a person walking,
// and the samples the library delivers.
#include "kestrion/KestrionSim.h"
#include "kestrion/SuitMotion.h"
#include "support/Kinematics.h"
#include "support/SuitLibraryTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace kxtest;

Frame Pose(int suit, double seconds, const kestrion::MotionSettings& s = {}) {
    Frame f{};
    kestrion::ComputePose(suit, seconds, s, &f);
    return f;
}

float MaxJointStep(const Frame& a, const Frame& b) {
    float worst = 0;
    for (int j = 0; j < 18; ++j) {
        const Vector &p = a.rotations[j], &q = b.rotations[j];
        for (float d : {p.x - q.x, p.z - q.z, std::remainder(p.y - q.y, 360.0f)}) worst = std::max(worst, std::fabs(d));
    }
    return worst;
}

double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
    double ma = 0, mb = 0, ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < a.size(); ++i) ma += a[i] / a.size(), mb += b[i] / b.size();
    for (std::size_t i = 0; i < a.size(); ++i) {
        ab += (a[i] - ma) * (b[i] - mb), aa += (a[i] - ma) * (a[i] - ma), bb += (b[i] - mb) * (b[i] - mb);
    }
    return ab / std::sqrt(aa * bb);
}

// Each suit's 30-second walk at 40 Hz, as a 3D program shows it.
TEST(SuitMotion, WalksLikeAPerson) {
    for (int suit = 0; suit < 4; ++suit) {
        SCOPED_TRACE("suit " + std::to_string(suit));
        double knee[2] = {1e9, -1e9}, elbow[2] = {1e9, -1e9}, lowestFoot = 1e9, highestStance = -1e9;
        double leastRise = 1e9, offCentre = 0, headTilt = 0, jointStep = 0, hipsStep = 0;
        std::vector<double> swing[4];  // forward: left wrist, left ankle, right wrist, right ankle
        auto range = [](double* r, double v) { r[0] = std::min(r[0], v), r[1] = std::max(r[1], v); };
        Frame last = Pose(suit, 0);
        for (int i = 0; i < 30 * 40; ++i) {
            const Frame f = Pose(suit, i / 40.0);
            const Posed p = Draw(f);
            const Vec3 up{0, 1, 0}, side = Cross(up, p.world[kHips] * Vec3{0, 0, 1});
            const Vec3 left = (1 / Length(side)) * side, ahead = Cross(left, up);
            // About the body's left axis: positive swings the lower bone backwards.
            auto bend = [&](int a, int b, int c) {
                const Vec3 upper = p.at[b] - p.at[a], lower = p.at[c] - p.at[b];
                return std::atan2(Dot(Cross(upper, lower), left), Dot(upper, lower)) * 180 / kPi;
            };
            for (int hip : {kLeftHip, kRightHip}) {
                const int shoulder = hip == kLeftHip ? kLeftShoulder : kRightShoulder;
                range(knee, bend(hip, hip + 1, hip + 2));
                range(elbow, -bend(shoulder, shoulder + 1, shoulder + 2));
                swing[hip / 2].push_back(Dot(p.at[shoulder + 2] - p.at[shoulder], ahead));
                swing[hip / 2 + 1].push_back(Dot(p.at[hip + 2] - p.at[hip], ahead));
            }
            const double feet[2] = {std::min(p.at[kLeftAnkle].y, p.at[kLeftToe].y),
                                    std::min(p.at[kRightAnkle].y, p.at[kRightToe].y)};
            lowestFoot = std::min({lowestFoot, feet[0], feet[1]});
            highestStance = std::max(highestStance, std::min(feet[0], feet[1]));
            leastRise = std::min({leastRise, p.at[kHead].y - p.at[kHips].y,
                                  p.at[kHips].y - std::max(p.at[kLeftAnkle].y, p.at[kRightAnkle].y)});
            const Vec3 feetMid = 0.5 * (p.at[kLeftAnkle] + p.at[kRightAnkle]);
            offCentre = std::max({offCentre, std::fabs(Dot(p.at[kHead] - p.at[kHips], ahead)),
                                  std::fabs(Dot(p.at[kHips] - feetMid, ahead))});
            headTilt = std::max(headTilt, DegreesBetween(p.world[kHead] * up, up));
            jointStep = std::max<double>(jointStep, MaxJointStep(last, f));
            hipsStep = std::max(hipsStep, Length(p.at[kHips] - Draw(last).at[kHips]));
            last = f;
        }
        EXPECT_GT(knee[0], -2);  // knees bend only to swing the shin back
        EXPECT_GT(knee[1], 40);
        EXPECT_GT(elbow[0], -2);  // elbows only to bring the forearm forward
        EXPECT_GT(elbow[1], 10);
        EXPECT_LT(std::max(Correlation(swing[0], swing[1]), Correlation(swing[2], swing[3])), -0.6);
        EXPECT_GT(lowestFoot, -0.5);  // on the floor, and carrying the body
        EXPECT_LT(highestStance, 6);
        EXPECT_GT(leastRise, 40);  // head above hips above ankles
        EXPECT_LT(offCentre, 15);
        EXPECT_LT(headTilt, 8);
        EXPECT_LT(jointStep, 12);  // degrees and cm from one sample to the next
        EXPECT_LT(hipsStep, 6);
        const double pace = Length(Draw(Pose(suit, 11)).at[kHips] - Draw(Pose(suit, 10)).at[kHips]);
        EXPECT_GT(pace, 80);  // cm/s
        EXPECT_LT(pace, 200);
    }
}

// Calibration: see the replay tests.
TEST(SuitMotion, ModesActAndEverySuitWalksItsOwnWay) {
    kestrion::MotionSettings jumping, uneven, gliding;
    jumping.jumping = uneven.unevenTerrain = gliding.ignoreFloor = true;
    EXPECT_GT(Pose(0, 10.25, jumping).position.y, Pose(0, 10.25).position.y + 20.0f);
    EXPECT_GT(std::fabs(Pose(0, 3, uneven).position.y - Pose(0, 3).position.y), 2.0f);
    EXPECT_EQ(Pose(0, 3, gliding).position.y, Pose(0, 3.3, gliding).position.y);
    EXPECT_GT(Length(Draw(Pose(0, 5)).at[kHips] - Draw(Pose(1, 5)).at[kHips]), 50.0f);
    EXPECT_GT(MaxJointStep(Pose(0, 5), Pose(1, 5)), 1.0f);
}

class SimLibrary : public SuitLibraryTest {};

TEST_F(SimLibrary, SamplesAreWholeAndNumberedAndCarryTheirProductionTime) {
    ASSERT_NE(GyroInit(), 0);
    ASSERT_EQ(GyroFindSuits(), 3);
    SuitInfo info;
    GyroEnumerateSuitInfo(1, &info);
    const GyroHandle h = GyroOpen(&info, 0, 0);
    Frame a{}, b{}, untouched{};
    ASSERT_EQ(GyroRead(h, &a), 0);
    ASSERT_EQ(GyroRead(h, &b), 0);
    EXPECT_TRUE(KestrionSim::FrameIsWhole(a));
    EXPECT_EQ(b.leadWord, a.leadWord + 1);
    EXPECT_GE(KestrionSim::ProducedAtNs(b), KestrionSim::ProducedAtNs(a));
    EXPECT_LE(KestrionSim::ProducedAtNs(b), KestrionSim::NowNs());
    b.rotations[17].x += 1.0f;
    EXPECT_FALSE(KestrionSim::FrameIsWhole(b));  // torn
    EXPECT_EQ(GyroClose(h), 0);
    EXPECT_EQ(GyroRead(h, &untouched), -1);
    EXPECT_EQ(untouched.leadWord, 0u);
    EXPECT_EQ(GyroFinish(), 0);  // the call log is checked against the reference model (model_test)
}

}  // namespace
