// The simulated suits: plausible, continuous motion, and the environment
// settings a host program gives them.
#include "kestrion/Environment.h"
#include "kestrion/KestrionSim.h"
#include "kestrion/SuitMotion.h"
#include "support/Kinematics.h"
#include "support/SimEnvironment.h"
#include "support/SuitLibraryTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

Frame Pose(int suit, double seconds, const kestrion::MotionSettings& s = {}) {
    Frame f{};
    kestrion::ComputePose(suit, seconds, s, &f);
    return f;
}

float MaxJointStep(const Frame& a, const Frame& b) {
    float worst = 0;
    for (int j = 0; j < 18; ++j) {
        const Vector& p = a.rotations[j];
        const Vector& q = b.rotations[j];
        for (float d : {p.x - q.x, p.z - q.z, std::remainder(p.y - q.y, 360.0f)}) {
            worst = std::fmax(worst, std::fabs(d));
        }
    }
    return worst;
}

float Distance(const Vector& a, const Vector& b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

}  // namespace

TEST(SuitMotion, IsContinuousAtThePollingRate) {
    for (int suit = 0; suit < 4; ++suit) {
        for (double t = 0; t < 20; t += 0.025) {
            const Frame a = Pose(suit, t), b = Pose(suit, t + 0.025);
            ASSERT_LT(MaxJointStep(a, b), 12.0f) << "suit " << suit << " at " << t;
            ASSERT_LT(Distance(a.position, b.position), 6.0f);
        }
    }
}

TEST(SuitMotion, WalksAtAHumanPaceWithHipsAtHipHeight) {
    const Frame start = Pose(0, 10), later = Pose(0, 11);
    const float walked = Distance(start.position, later.position);
    EXPECT_GT(walked, 80.0f);   // cm in one second
    EXPECT_LT(walked, 200.0f);
    for (double t = 0; t < 10; t += 0.1) {
        const Frame f = Pose(1, t);
        EXPECT_GT(f.position.y, 80.0f);
        EXPECT_LT(f.position.y, 110.0f);
    }
    // The legs swing: the left hip's flexion changes sign within a step.
    float lo = 1e9f, hi = -1e9f;
    for (double t = 0; t < 2; t += 0.05) {
        lo = std::fmin(lo, Pose(0, t).rotations[1].x);
        hi = std::fmax(hi, Pose(0, t).rotations[1].x);
    }
    EXPECT_LT(lo, -15.0f);
    EXPECT_GT(hi, 15.0f);
}

TEST(SuitMotion, DiffersBetweenSuits) {
    EXPECT_GT(Distance(Pose(0, 5).position, Pose(1, 5).position), 50.0f);
    EXPECT_GT(MaxJointStep(Pose(0, 5), Pose(1, 5)), 1.0f);
}

TEST(SuitMotion, NullAndNorthRecentreTheSuit) {
    kestrion::MotionSettings s;
    float heading = 0;
    kestrion::RawPlacement(2, 7.0, &s.nullX, &s.nullZ, &heading);
    s.northDegrees = heading;
    const Frame f = Pose(2, 7.0, s);
    EXPECT_NEAR(f.position.x, 0.0f, 1e-3);
    EXPECT_NEAR(f.position.z, 0.0f, 1e-3);
    EXPECT_NEAR(f.rotations[0].y, 0.0f, 1e-3);
}

// What a 3D program shows of a suit's 30-second walk at 40 Hz.
struct Gait {
    double knee[2] = {1e9, -1e9};   // least and most flexion, degrees: the shin swung back
    double elbow[2] = {1e9, -1e9};  // the forearm brought forward
    double armLegCorrelation = -1;  // of the forward swings of a wrist and the same side's ankle; the larger side
    double lowestFoot = 1e9;        // cm: an ankle or a toe end
    double highestStance = -1e9;    // cm: the lower foot's lowest point, at its highest
    double leastRise = 1e9;         // cm: of the head over the hips and of the hips over the ankles
    double offCentre = 0;           // cm along the walk: the head from the hips, the hips from the ankles' midpoint
    double headTilt = 0;            // degrees from upright
};

double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
    double ma = 0, mb = 0, ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < a.size(); ++i) ma += a[i] / a.size(), mb += b[i] / b.size();
    for (std::size_t i = 0; i < a.size(); ++i) {
        ab += (a[i] - ma) * (b[i] - mb), aa += (a[i] - ma) * (a[i] - ma), bb += (b[i] - mb) * (b[i] - mb);
    }
    return ab / std::sqrt(aa * bb);
}

Gait Measure(int suit) {
    using namespace kxtest;
    Gait g;
    std::vector<double> swing[4];  // left wrist, left ankle, right wrist, right ankle
    auto range = [](double* r, double v) { r[0] = std::min(r[0], v), r[1] = std::max(r[1], v); };
    for (int i = 0; i < 30 * 40; ++i) {
        const Posed p = Draw(Pose(suit, i / 40.0));
        const Vec3 up{0, 1, 0}, left = Unit(Cross(up, p.world[kHips] * Vec3{0, 0, 1})), ahead = Cross(left, up);
        // About the body's left axis: positive swings the lower bone backwards.
        auto bend = [&](int a, int b, int c) {
            const Vec3 upper = p.at[b] - p.at[a], lower = p.at[c] - p.at[b];
            return std::atan2(Dot(Cross(upper, lower), left), Dot(upper, lower)) * 180 / 3.14159265358979;
        };
        for (int side = 0; side < 2; ++side) {
            const int hip = side ? kRightHip : kLeftHip, shoulder = side ? kRightShoulder : kLeftShoulder;
            range(g.knee, bend(hip, hip + 1, hip + 2));
            range(g.elbow, -bend(shoulder, shoulder + 1, shoulder + 2));
            swing[2 * side].push_back(Dot(p.at[shoulder + 2] - p.at[shoulder], ahead));
            swing[2 * side + 1].push_back(Dot(p.at[hip + 2] - p.at[hip], ahead));
        }
        const double feet[2] = {std::min(p.at[kLeftAnkle].y, p.at[kLeftToe].y),
                                std::min(p.at[kRightAnkle].y, p.at[kRightToe].y)};
        g.lowestFoot = std::min({g.lowestFoot, feet[0], feet[1]});
        g.highestStance = std::max(g.highestStance, std::min(feet[0], feet[1]));
        g.leastRise = std::min({g.leastRise, p.at[kHead].y - p.at[kHips].y,
                                p.at[kHips].y - std::max(p.at[kLeftAnkle].y, p.at[kRightAnkle].y)});
        const Vec3 feetMid = 0.5 * (p.at[kLeftAnkle] + p.at[kRightAnkle]);
        g.offCentre = std::max({g.offCentre, std::fabs(Dot(p.at[kHead] - p.at[kHips], ahead)),
                                std::fabs(Dot(p.at[kHips] - feetMid, ahead))});
        g.headTilt = std::max(g.headTilt, DegreesBetween(p.world[kHead] * up, up));
    }
    g.armLegCorrelation = std::max(Correlation(swing[0], swing[1]), Correlation(swing[2], swing[3]));
    return g;
}

std::string Describe(const Gait& g) {
    char text[400];
    std::snprintf(text, sizeof text,
                  "knee flexion %.1f to %.1f, elbow flexion %.1f to %.1f, arm-leg correlation %.2f, feet down to "
                  "%.2f cm and standing up to %.2f cm, rising at least %.1f cm, off centre up to %.1f cm, head tilt "
                  "up to %.1f",
                  g.knee[0], g.knee[1], g.elbow[0], g.elbow[1], g.armLegCorrelation, g.lowestFoot, g.highestStance,
                  g.leastRise, g.offCentre, g.headTilt);
    return text;
}

struct HumanWalk {
    const char* name;
    std::function<bool(const Gait&)> holds;
    friend void PrintTo(const HumanWalk& w, std::ostream* os) { *os << w.name; }
};

class SuitWalks : public ::testing::TestWithParam<HumanWalk> {};

TEST_P(SuitWalks, LikeAPerson) {
    static const std::vector<Gait> suits = [] {
        std::vector<Gait> measured;
        for (int suit = 0; suit < 4; ++suit) measured.push_back(Measure(suit));
        return measured;
    }();
    for (std::size_t suit = 0; suit < suits.size(); ++suit) {
        EXPECT_TRUE(GetParam().holds(suits[suit])) << "suit " << suit << ": " << Describe(suits[suit]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Checks, SuitWalks,
    ::testing::Values(
        HumanWalk{"KneesBendOnlyToSwingTheShinBack", [](const Gait& g) { return g.knee[0] > -2 && g.knee[1] > 40; }},
        HumanWalk{"ElbowsBendOnlyToBringTheForearmForward",
                  [](const Gait& g) { return g.elbow[0] > -2 && g.elbow[1] > 10; }},
        HumanWalk{"EachArmSwingsAgainstItsOwnLeg", [](const Gait& g) { return g.armLegCorrelation < -0.6; }},
        HumanWalk{"FeetStayOnTheFloorAndCarryTheBody",
                  [](const Gait& g) { return g.lowestFoot > -0.5 && g.highestStance < 6; }},
        HumanWalk{"HeadAboveHipsAboveAnkles", [](const Gait& g) { return g.leastRise > 40 && g.offCentre < 15; }},
        HumanWalk{"HeadStaysLevel", [](const Gait& g) { return g.headTilt < 8; }}),
    [](const ::testing::TestParamInfo<HumanWalk>& info) { return std::string(info.param.name); });

TEST(SuitMotion, JumpingLiftsTheHips) {
    kestrion::MotionSettings s;
    s.jumping = true;
    EXPECT_GT(Pose(0, 10.25, s).position.y, Pose(0, 10.25).position.y + 20.0f);
}

using kxtest::SimEnvironment;

TEST_F(SimEnvironment, UnsetOrEmptyMeansTwoSuitsThatStartAndOpen) {
    Unset("KESTRION_SIM_SUITS");
    Unset("KESTRION_SIM_INIT");
    Unset("KESTRION_SIM_NO_OPEN");
    ASSERT_TRUE(Read()) << error;
    EXPECT_EQ(settings.suits, 2);
    EXPECT_FALSE(settings.initFails);
    EXPECT_TRUE(settings.noOpen.empty());
}

TEST_F(SimEnvironment, ReadsCountFailureAndSuitsThatDoNotOpen) {
    Set("KESTRION_SIM_SUITS", "5");
    Set("KESTRION_SIM_INIT", "fail");
    Set("KESTRION_SIM_NO_OPEN", "1,3");
    ASSERT_TRUE(Read()) << error;
    EXPECT_EQ(settings.suits, 5);
    EXPECT_TRUE(settings.initFails);
    EXPECT_EQ(settings.noOpen, (std::set<int>{1, 3}));
}

TEST_F(SimEnvironment, RejectsBadValuesWithAClearMessage) {
    for (const char* bad : {"two", "3x", "99999", "-2000", " "}) {
        Set("KESTRION_SIM_SUITS", bad);
        EXPECT_FALSE(Read()) << bad;
        EXPECT_NE(error.find("KESTRION_SIM_SUITS"), std::string::npos);
        EXPECT_NE(error.find(bad), std::string::npos);
    }
    Set("KESTRION_SIM_SUITS", "2");
    Set("KESTRION_SIM_INIT", "maybe");
    EXPECT_FALSE(Read());
    EXPECT_NE(error.find("KESTRION_SIM_INIT"), std::string::npos);
    Set("KESTRION_SIM_INIT", "ok");
    for (const char* bad : {"1,,2", "a", "-1", "1,"}) {
        Set("KESTRION_SIM_NO_OPEN", bad);
        EXPECT_FALSE(Read()) << bad;
        EXPECT_NE(error.find("KESTRION_SIM_NO_OPEN"), std::string::npos);
    }
}

TEST_F(SimEnvironment, ReadsAHangOfEachKindAndRejectsOthers) {
    Set("KESTRION_SIM_HANG", "3:pipe:40");
    ASSERT_TRUE(Read()) << error;
    EXPECT_EQ(settings.hangSuit, 3);
    EXPECT_EQ(settings.hangHow, KestrionSim::Hang::Pipe);
    EXPECT_EQ(settings.hangAfter, 40);
    Set("KESTRION_SIM_HANG", "0:spin:0");
    ASSERT_TRUE(Read()) << error;
    EXPECT_EQ(settings.hangHow, KestrionSim::Hang::Spin);
    for (const char* bad : {"1:sleep:4", "1:spin", "x:wait:1", "1:mutex:-1", "1:wait:2:3", ":wait:1"}) {
        Set("KESTRION_SIM_HANG", bad);
        EXPECT_FALSE(Read()) << bad;
        EXPECT_NE(error.find("KESTRION_SIM_HANG must be SUIT:KIND:AFTER"), std::string::npos) << bad;
    }
}

class SimLibrary : public kxtest::SuitLibraryTest {};

TEST_F(SimLibrary, SamplesAreWholeAndNumberedAndCarryTheirProductionTime) {
    ASSERT_NE(GyroInit(), 0);
    ASSERT_EQ(GyroFindSuits(), 3);
    SuitInfo info;
    GyroEnumerateSuitInfo(1, &info);
    const GyroHandle h = GyroOpen(&info, 0, 0);
    ASSERT_EQ(h, KestrionSim::HandleOf(1));
    Frame a{}, b{};
    ASSERT_EQ(GyroRead(h, &a), 0);
    ASSERT_EQ(GyroRead(h, &b), 0);
    EXPECT_TRUE(KestrionSim::FrameIsWhole(a));
    EXPECT_EQ(b.leadWord, a.leadWord + 1);
    EXPECT_EQ(a.tailWords[1], 1u);
    EXPECT_GE(KestrionSim::ProducedAtNs(b), KestrionSim::ProducedAtNs(a));
    EXPECT_LE(KestrionSim::ProducedAtNs(b), KestrionSim::NowNs());
    Frame torn = b;
    torn.rotations[17].x += 1.0f;
    EXPECT_FALSE(KestrionSim::FrameIsWhole(torn));

    EXPECT_EQ(GyroClose(h), 0);
    Frame untouched{};
    EXPECT_EQ(GyroRead(h, &untouched), -1);  // closed
    EXPECT_EQ(untouched.leadWord, 0u);
    EXPECT_EQ(GyroFinish(), 0);
    EXPECT_EQ(KestrionSim::CallTexts().front(), "GyroInit()");
}
