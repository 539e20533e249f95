// The simulated suits: plausible, continuous motion, and the environment
// settings a host program gives them.
#include "kestrion/Environment.h"
#include "kestrion/KestrionSim.h"
#include "kestrion/SuitMotion.h"
#include "support/DebugMessages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <deque>
#include <string>

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

TEST(SuitMotion, JumpingLiftsTheHips) {
    kestrion::MotionSettings s;
    s.jumping = true;
    EXPECT_GT(Pose(0, 10.25, s).position.y, Pose(0, 10.25).position.y + 20.0f);
}

class SimEnvironment : public ::testing::Test {
protected:
    ~SimEnvironment() override {
        for (const char* v : {"KESTRION_SIM_SUITS", "KESTRION_SIM_INIT", "KESTRION_SIM_NO_OPEN", "KESTRION_SIM_HANG"}) {
            Unset(v);
        }
    }
    static void Set(const char* name, const char* value) {
        // putenv keeps the string itself: it must live on.
        static std::deque<std::string> kept;
        kept.push_back(std::string(name) + "=" + value);
        putenv(&kept.back()[0]);
    }
    // An empty value is how both platforms' putenv can say "unset".
    static void Unset(const char* name) { Set(name, ""); }
    bool Read() { return kestrion::ReadEnvironment(&settings, &error); }

    kestrion::EnvironmentSettings settings;
    std::string error;
};

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
