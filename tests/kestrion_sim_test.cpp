// The simulated suits: motion that a 3D program shows as a person walking,
// as the suits compute it and as a recording resamples it. Captured motion
// replayed through them: files in each naming style, rest pose and up axis,
// written here, must move our skeleton's bones the way the source's move;
// our own recordings replay exactly; hostile files are refused, naming
// file, line and reason, safely. (Bad environment settings: the host
// program's error test. The library's samples and calls are checked
// against the reference model, and each setting's effect where the host
// program runs.)
#include "app/recording/BvhWriter.h"
#include "app/recording/CsvWriter.h"
#include "app/recording/FrameResampler.h"
#include "kestrion/Environment.h"
#include "kestrion/replay/Replay.h"
#include "kestrion/motion/SuitMotion.h"
#include "support/Kinematics.h"
#include "support/UniqueName.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace kxtest;

Frame Pose(int suit, double seconds, const kestrion::MotionSettings& s = {}) {
    Frame f{};
    kestrion::ComputePose(suit, seconds, s, &f);
    return f;
}

// The one replay in a file's text, or null with `error`.
std::shared_ptr<const kestrion::Replay> FromText(const std::string& text, const std::string& name, std::string* error) {
    kestrion::ReplayBudget budget;
    kestrion::Replays replays;
    return kestrion::ReplaysFromText(text, name, &budget, &replays, error) ? replays.front() : nullptr;
}

// 30 seconds of a suit's walk: at 40 Hz as the suit computes it, or as a
// recording at `rate` makes it of what a driver reads every 25.5 ms (a
// pause and a pass), each sample first seen at the next read.
std::vector<Frame> Walk(int suit, double rate) {
    std::vector<Frame> frames;
    if (rate == 0) {
        for (int i = 0; i < 30 * 40; ++i) frames.push_back(Pose(suit, i / 40.0));
        return frames;
    }
    kxhost::FrameResampler resampler(rate, long(30 * rate));
    std::vector<Frame> read(1), recorded;
    for (long k = 0; !resampler.Done(); ++k) {
        const double now = k / rate, sampled = std::floor(now / 0.0255) * 0.0255;
        read[0] = Pose(suit, sampled);
        read[0].leadWord = std::uint32_t(1 + std::lround(sampled / 0.0255));
        resampler.Add(read, now);
        while (resampler.Next(&recorded)) frames.push_back(recorded[0]);
    }
    return frames;
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

// Each suit's 30-second walk as a 3D program shows it: as computed, and as
// recordings at 40 and 120 Hz make it, which hold no frame twice.
class SuitMotionAt : public ::testing::TestWithParam<double> {};

TEST_P(SuitMotionAt, WalksLikeAPerson) {
    for (int suit = 0; suit < 4; ++suit) {
        SCOPED_TRACE("suit " + std::to_string(suit));
        double knee[2] = {1e9, -1e9}, elbow[2] = {1e9, -1e9}, lowestFoot = 1e9, highestStance = -1e9;
        double leastRise = 1e9, offCentre = 0, headTilt = 0, jointStep = 0, hipsStep = 0;
        std::vector<double> swing[4];  // forward: left wrist, left ankle, right wrist, right ankle
        auto range = [](double* r, double v) { r[0] = std::min(r[0], v), r[1] = std::max(r[1], v); };
        const std::vector<Frame> walk = Walk(suit, GetParam());
        ASSERT_EQ(walk.size(), GetParam() == 0 ? 1200u : std::size_t(30 * GetParam()));
        Frame last = walk[0];
        int held = 0;
        for (std::size_t i = 0; i < walk.size(); ++i) {
            const Frame& f = walk[i];
            held += i > 0 && std::memcmp(&f.position, &last.position, sizeof f.rotations + sizeof f.position) == 0;
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
        EXPECT_EQ(held, 0) << "frames the same as the one before";
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

INSTANTIATE_TEST_SUITE_P(SuitMotion, SuitMotionAt, ::testing::Values(0.0, 40.0, 120.0), [](const auto& info) {
    return info.param == 0 ? std::string("Computed") : "RecordedAt" + std::to_string(int(info.param)) + "Hz";
});

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

// A source skeleton in its T-pose, in cm: "name parent x y z" a bone, '%'
// standing for the side (x mirrored on the right), '*' after a name for a
// joint without channels, a name ending in _End for an end site.
struct Style {
    const char *name, *left, *right, *prefix, *order;  // order: of the rotation channels
    double unit;                                       // per cm
    const char *middle, *sided;
    std::vector<std::string> ours;     // the joints standing for ours, in the frame's order
    std::vector<std::string> tips[3];  // a foot, a hand and the head point to the middle of these
};

const Style kStyles[] = {
    // Prefixed, with hip joints, three spine joints, two neck joints, toes,
    // a thumb and fingers.
    {"UpLeg", "Left", "Right", "mixamorig:", "ZYX", 1,
     "Hips - 0 0 0, Spine Hips 0 10 0, Spine1 Spine 0 12 -1, Spine2 Spine1 0 12 -1, Neck Spine2 0 14 1, "
     "Neck1 Neck 0 5 1, Head Neck1 0 7 0, HeadTop_End Head 0 18 0",
     "%HipJoint* Hips 5 -3 0, %UpLeg %HipJoint 4 -4 0, %Leg %UpLeg 0 -44 1, %Foot %Leg 0 -42 -1, "
     "%ToeBase %Foot 0 -6 13, %Toe_End %ToeBase 0 0 5, %Shoulder Spine2 4 10 0, %Arm %Shoulder 13 0 0, "
     "%ForeArm %Arm 27 0 0, %Hand %ForeArm 25 0 0, %HandThumb1 %Hand 3 -1 3, %HandThumb_End %HandThumb1 3 0 1, "
     "%HandIndex1 %Hand 9 0 2, %HandIndex_End %HandIndex1 4 0 0, %HandPinky1 %Hand 8 0 -2.5, "
     "%HandPinky_End %HandPinky1 3 0 0",
     {"Hips", "LeftUpLeg", "LeftLeg", "LeftFoot", "RightUpLeg", "RightLeg", "RightFoot", "Spine2", "LeftShoulder",
      "LeftArm", "LeftForeArm", "LeftHand", "RightShoulder", "RightArm", "RightForeArm", "RightHand", "Neck", "Head"},
     {{"%ToeBase"}, {"%HandThumb1", "%HandIndex1", "%HandPinky1"}, {"HeadTop_End"}}},
    // In inches, with an abdomen, toes, a thumb, a finger and eyes.
    {"lThigh", "l", "r", "", "YXZ", 1 / 2.54,
     "hip - 0 0 0, abdomen hip 0 12 0, chest abdomen 0 20 -1, neck chest 0 18 1, head neck 0 10 0, "
     "head_End head 0 19 0",
     "%Thigh hip 9 -6 0, %Shin %Thigh 0 -43 0, %Foot %Shin 0 -41 0, %Toe %Foot 0 -6 12, %Toe_End %Toe 0 0 4, "
     "%Collar chest 3 15 0, %Shldr %Collar 12 0 0, %ForeArm %Shldr 26 0 0, %Hand %ForeArm 24 0 0, "
     "%Thumb1 %Hand 2 -1 3, %Thumb_End %Thumb1 3 0 1, %Mid1 %Hand 8.5 0 0, %Mid_End %Mid1 4 0 0, "
     "%Eye head 3 5 8, %Eye_End %Eye 0 0 2",
     {"hip", "lThigh", "lShin", "lFoot", "rThigh", "rShin", "rFoot", "chest", "lCollar", "lShldr", "lForeArm", "lHand",
      "rCollar", "rShldr", "rForeArm", "rHand", "neck", "head"},
     {{"%Toe"}, {"%Thumb1", "%Mid1"}, {"head_End"}}},
    // Our own skeleton, in metres.
    {"Own", "Left", "Right", "", "ZXY", 0.01, "", "", {}, {{"%Ankle_End"}, {"%Wrist_End"}, {"Head_End"}}},
};

// ZUp: the T-pose, written by a program whose Z is up: offsets and
// positions turned a quarter about X, and the channels with them.
enum Rest { TPose, APose, BentArms, ZUp };
const char* const kRests[] = {"TPose", "APose", "BentArms", "ZUp"};

std::string Sided(std::string name, const char* side) {
    const std::size_t at = name.find('%');
    return at == std::string::npos ? name : name.replace(at, 1, side);
}

std::string Numbers(Vec3 v) { return std::to_string(v.x) + " " + std::to_string(v.y) + " " + std::to_string(v.z); }

// Y up made Z up: y becomes z, z becomes -y; so a channel about or along Y
// is one about or along Z, and one about or along Z goes the other way
// about or along Y.
Vec3 ToZUp(Vec3 v) { return {v.x, -v.z, v.y}; }
char ZUpAxis(char axis) { return axis == 'Y' ? 'Z' : axis == 'Z' ? 'Y' : 'X'; }

// A source file: its bones in file order and units, its text, and where
// its joints are in each frame.
struct Source {
    Body body;
    std::vector<std::string> ours;  // standing for our joints
    std::string text;
    std::vector<Posed> frames;
    double height = 0;  // at rest

    int Index(const std::string& name) const {
        const auto at = std::find_if(body.begin(), body.end(), [&](const Bone& b) { return b.name == name; });
        if (at == body.end()) ADD_FAILURE() << "no bone " << name;
        return at == body.end() ? 0 : int(at - body.begin());
    }
};

// The style's skeleton in `rest` pose, moving every channel it has.
Source Write(const Style& style, Rest rest, int frameCount) {
    Source src;
    if (*style.middle == '\0') src.body = OurBody();  // our own
    for (Bone& b : src.body) b.offset = style.unit * b.offset;
    for (const char* side : {"", style.left, style.right}) {
        std::istringstream list(*side ? style.sided : style.middle);
        for (std::string bone, name, parent; std::getline(list, bone, ',');) {
            Vec3 o;
            std::istringstream(bone) >> name >> parent >> o.x >> o.y >> o.z;
            const bool still = name.back() == '*';
            src.body.push_back({Sided(still ? name.substr(0, name.size() - 1) : name, side),
                                parent == "-" ? -1 : src.Index(Sided(parent, side)),
                                style.unit * Vec3{side == style.right ? -o.x : o.x, o.y, o.z}, still});
        }
    }
    const std::size_t n = src.body.size();
    std::vector<std::string>& ours = src.ours = style.ours;
    for (int j = 0; ours.size() < std::size_t(kJointCount); ++j) ours.push_back(OurBody()[j].name);  // own
    // Arms lowered 45 degrees at the shoulder, and bent 50 degrees forward
    // at the elbow as well.
    auto turnBelow = [&](const std::string& top, const Mat3& r) {
        for (std::size_t k = 0; k < n; ++k)
            for (int up = src.body[k].parent; up >= 0; up = src.body[up].parent)
                if (up == src.Index(top)) src.body[k].offset = r * src.body[k].offset;
    };
    for (int side = 0; side < 2; ++side) {
        if (rest == APose || rest == BentArms) turnBelow(ours[side ? 13 : 9], Rotation('Z', side ? 45 : -45));
        if (rest == BentArms) turnBelow(ours[side ? 14 : 10], Rotation('Y', side ? 50 : -50));
    }
    double low = 1e9, high = -1e9;
    for (const Vec3& p : Forward(src.body, {}, {}).at) low = std::fmin(low, p.y), high = std::fmax(high, p.y);
    src.height = high - low;

    const bool zUp = rest == ZUp;
    auto turned = [zUp](Vec3 v) { return zUp ? ToZUp(v) : v; };
    auto axis = [zUp](char c) { return std::string(1, zUp ? ZUpAxis(c) : c); };
    std::string rotations;
    for (const char* c = style.order; *c; ++c) rotations += " " + axis(*c) + "rotation";
    std::vector<int> moving;  // the joints with channels, in a frame line's order
    std::function<void(int, const std::string&)> write = [&](int k, const std::string& pad) {
        const Bone& b = src.body[k];
        const bool end = b.name.size() > 4 && b.name.substr(b.name.size() - 4) == "_End";
        src.text += pad + (end ? "End Site" : (k == 0 ? "ROOT " : "JOINT ") + (style.prefix + b.name)) + "\n" + pad +
                    "{\n" + pad + "  OFFSET " + Numbers(turned(b.offset)) + "\n";
        if (!end) {
            src.text += pad + "  CHANNELS " +
                        (k == 0 ? "6 " + axis('X') + "position " + axis('Y') + "position " + axis('Z') + "position"
                                : b.still ? "0" : "3") +
                        (b.still ? "\n" : rotations + "\n");
            if (!b.still) moving.push_back(k);
        }
        for (std::size_t child = 0; child < n; ++child)
            if (src.body[child].parent == k) write(int(child), pad + "  ");
        src.text += pad + "}\n";
    };
    src.text = "HIERARCHY\n";
    write(0, "");
    src.text += "MOTION\nFrames: " + std::to_string(frameCount) + "\nFrame Time: 0.0333333\n";
    for (int f = 0; f < frameCount; ++f) {
        const double time = f / 30.0;
        const Vec3 root = style.unit * Vec3{12 * time, 95, 7 * time};
        src.text += Numbers(zUp ? Vec3{root.x, root.y, -root.z} : root);
        std::vector<Mat3> local(n);
        for (int k : moving) {
            double angles[3];
            for (int c = 0; c < 3; ++c) {
                angles[c] = 35 * std::sin(0.9 * time * (1 + 0.31 * k + 0.17 * c) + 0.7 * k + 1.3 * c);
                src.text += " " + std::to_string(zUp && style.order[c] == 'Z' ? -angles[c] : angles[c]);
            }
            local[k] = Compose(style.order, angles);
        }
        src.text += "\n";
        src.frames.push_back(Forward(src.body, root, local));
    }
    return src;
}

class ReplayMapping : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(ReplayMapping, MovesEveryBoneAsTheSourceDoes) {
    const Style& style = kStyles[std::get<0>(GetParam())];
    const Source src = Write(style, Rest(std::get<1>(GetParam())), 45);
    std::string error;
    const auto replay = FromText(src.text, "mapped.bvh", &error);
    ASSERT_NE(replay, nullptr) << error;
    ASSERT_EQ(replay->Frames(), src.frames.size());
    // Where a point of ours is in the source: a joint, or the middle of what
    // a foot, a hand or the head points to.
    auto at = [&](const Posed& p, int point) {
        if (point < kJointCount) return p.at[src.Index(src.ours[point])];
        const auto& tips = style.tips[point <= kRightToe ? 0 : point <= kRightHand ? 1 : 2];
        Vec3 sum;
        for (const std::string& tip : tips)
            sum = sum + p.at[src.Index(Sided(tip, point % 2 ? style.right : style.left))];
        return (1.0 / tips.size()) * sum;
    };
    // Each bone of ours, the trunk's included (the hips' to the chest, the
    // chest's to the neck), along the source's chain; the short ones from
    // the hips to the thighs and from the chest to the collars are the
    // trunk's own.
    std::vector<std::pair<int, int>> bones{{kHips, kChest}, {kChest, kNeck}};
    for (int p = 1; p < int(OurBody().size()); ++p)
        if (OurBody()[p].parent != kHips && OurBody()[p].parent != kChest) bones.push_back({OurBody()[p].parent, p});
    // The part of `v` across the trunk.
    auto across = [](Vec3 v, Vec3 trunk) { return v - (Dot(v, trunk) / Dot(trunk, trunk)) * trunk; };
    for (std::size_t f = 0; f < src.frames.size(); ++f) {
        Frame frame{};
        replay->Pose((f + 0.5) / 30, kestrion::MotionSettings(), &frame);  // at the file's own rate
        const Posed ours = Draw(frame);
        for (const auto& [from, to] : bones) {
            const double off = DegreesBetween(ours.at[to] - ours.at[from], at(src.frames[f], to) - at(src.frames[f], from));
            EXPECT_LT(off, 2.0) << "frame " << f << ", the bone from joint " << from;
        }
        // Turned about the trunk as the source's hips are: their line from
        // right to left, seen along the trunk.
        const Vec3 trunk = ours.at[kChest] - ours.at[kHips];
        EXPECT_LT(DegreesBetween(across(ours.at[kLeftHip] - ours.at[kRightHip], trunk),
                                 across(at(src.frames[f], kLeftHip) - at(src.frames[f], kRightHip), trunk)),
                  2.0)
            << "frame " << f << ", the hips' turn";
        // Centimetres, by the height of the skeleton.
        ASSERT_LT(Length(ours.at[kHips] - (177.0 / src.height) * src.frames[f].at[0]), 0.01) << "frame " << f;
    }
}

INSTANTIATE_TEST_SUITE_P(Styles, ReplayMapping, ::testing::Combine(::testing::Range(0, 3), ::testing::Range(0, 4)),
                         [](const auto& info) {
                             return std::string(kStyles[std::get<0>(info.param)].name) + "Names" +
                                    kRests[std::get<1>(info.param)];
                         });

// Null and north make the present place and heading the origin, in walking
// and in replayed motion alike.
TEST(Calibration, NullAndNorthMakeThePresentPlaceAndHeadingTheOrigin) {
    std::string error;
    const auto replay = FromText(Write(kStyles[1], TPose, 20).text, "turning.bvh", &error);
    ASSERT_NE(replay, nullptr) << error;
    for (const bool replaying : {false, true}) {
        kestrion::MotionSettings s;
        Frame f{};
        replaying ? replay->Placement(0.3, &s.nullX, &s.nullZ, &s.northDegrees)
                  : kestrion::RawPlacement(2, 0.3, &s.nullX, &s.nullZ, &s.northDegrees);
        ASSERT_GT(std::fabs(s.northDegrees), 5.0f);
        replaying ? replay->Pose(0.3, s, &f) : kestrion::ComputePose(2, 0.3, s, &f);
        const Vec3 ahead = Draw(f).world[kHips] * Vec3{0, 0, 1};
        EXPECT_NEAR(f.position.x, 0.0f, 1e-3) << "replaying " << replaying;
        EXPECT_NEAR(f.position.z, 0.0f, 1e-3) << "replaying " << replaying;
        EXPECT_NEAR(std::atan2(ahead.x, ahead.z), 0.0, 1e-4) << "replaying " << replaying;
    }
}

// The settings read from the environment a host program gives: the named
// KESTRION_SIM_ variables set, the others unset, as all are after the test;
// the files written for it removed.
class SimEnvironment : public ::testing::Test {
protected:
    ~SimEnvironment() override {
        Read({});
        for (const std::string& f : files) std::remove(f.c_str());
    }
    bool Read(std::map<std::string, std::string> given) {
        static std::deque<std::string> kept;  // putenv keeps the string itself
        for (const char* name : {"SUITS", "INIT", "NO_OPEN", "REPLAY", "HANG"}) {
            kept.push_back("KESTRION_SIM_" + (name + ("=" + given[name])));  // empty: unset, on both platforms
            putenv(&kept.back()[0]);
        }
        return kestrion::ReadEnvironment(&settings, &error);
    }
    std::string File(const std::string& text) {
        files.push_back((std::filesystem::temp_directory_path() / (UniqueName("replay") + ".bvh")).string());
        std::ofstream(files.back(), std::ios::binary) << text;
        return files.back();
    }

    kestrion::EnvironmentSettings settings;
    std::string error;
    std::vector<std::string> files;
};

TEST_F(SimEnvironment, ReplaysAFilePerSuitUnlessTheSuitsAreCounted) {
    const std::string a = File(Write(kStyles[0], TPose, 3).text), b = File(Write(kStyles[2], TPose, 4).text);
    ASSERT_TRUE(Read({{"REPLAY", a}})) << error;
    EXPECT_EQ(settings.suits, 1);
    ASSERT_TRUE(Read({{"SUITS", "3"}, {"REPLAY", a + "," + b}})) << error;
    EXPECT_EQ(settings.suits, 3);  // the third walks
    ASSERT_EQ(settings.replays.size(), 2u);
    EXPECT_EQ(settings.replays[1]->Frames(), 4u);  // in the list's order
}

// What a writer puts in a file.
std::string Written(const std::function<void(std::FILE*)>& write) {
    const std::string path = (std::filesystem::temp_directory_path() / UniqueName("written")).string();
    std::FILE* file = std::fopen(path.c_str(), "w+b");
    write(file);
    std::string text(std::size_t(std::ftell(file)), '\0');
    std::rewind(file);
    text.resize(std::fread(&text[0], 1, text.size(), file));
    std::fclose(file);
    std::remove(path.c_str());
    return text;
}

// Our own files, as the host program writes them, with any line ends,
// replay within the printed precision (angles modulo 360): two suits
// walking, with a hop, whose knees bend past 90 degrees.
TEST(OwnRecordings, ReplayExactly) {
    kestrion::MotionSettings hop;
    hop.jumping = true;
    std::vector<Frame> suits[2];
    for (int k = 0; k < 40; ++k) {
        for (int suit : {0, 1}) suits[suit].push_back(Pose(suit, 4.6 + k / 40.0, hop));
    }
    const std::string bvh = Written([&](std::FILE* file) {
        kxhost::BvhWriter writer(file, 1 / 40.0);
        writer.Begin();
        for (const Frame& f : suits[0]) writer.Add(f);
        writer.Finish();
    });
    const std::string csv = Written([&](std::FILE* file) {
        kxhost::CsvWriter writer(file);
        writer.Begin();
        for (int k = 0; k < 40; ++k) {
            for (int suit : {0, 1}) writer.Add(k, k / 40.0, suit, suits[suit][std::size_t(k)]);
        }
    });
    auto lineEnds = [](std::string text, const char* end) {
        for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += std::strlen(end))
            text.replace(at, 1, end);
        return text;
    };
    const std::pair<std::string, std::string> files[] = {
        {"own.bvh", bvh}, {"own.bvh", "\xEF\xBB\xBF" + lineEnds(bvh, "\r\n")}, {"own.bvh", lineEnds(bvh, "\r")},
        {"own.CSV", csv}, {"own.csv", lineEnds(csv, "\r")}};
    for (const auto& [name, text] : files) {
        kestrion::ReplayBudget budget;
        kestrion::Replays replays;
        std::string error;
        ASSERT_TRUE(kestrion::ReplaysFromText(text, name, &budget, &replays, &error)) << error;
        ASSERT_EQ(replays.size(), name == "own.bvh" ? 1u : 2u);
        for (std::size_t suit = 0; suit < replays.size(); ++suit) {
            for (int k = 0; k < 40; ++k) {
                Frame f{};
                replays[suit]->Pose((k + 0.5) / 40, kestrion::MotionSettings(), &f);
                const float *got = &f.position.x, *want = &suits[suit][std::size_t(k)].position.x;
                for (int v = 0; v < 3 + 3 * kJointCount; ++v) {
                    EXPECT_NEAR(v < 3 ? got[v] - want[v] : std::remainder(got[v] - want[v], 360.0f), 0.0f, 0.0011f)
                        << name << " suit " << suit << " frame " << k << " value " << v;
                }
            }
        }
    }
}

TEST_F(SimEnvironment, RefusesHostileReplaysSayingWhereAndWhySafely) {
    // A good file made bad, every `find` replaced: the message names the line
    // `below` the first holding `anchor`, and the reason.
    using namespace std::string_literals;
    std::string chain = "ROOT x {";
    for (int k = 0; k < 1100; ++k) chain += "\nJOINT x {";
    const std::tuple<std::string, std::string, const char*, int, std::string> refusals[] = {
        {"mixamorig:LeftForeArm", "mixamorig:LeftLowerArm", "ROOT", 0, "unknown skeleton: no joint named LeftForeArm"},
        {"mixamorig:", "mixamorig:X", "ROOT", 0, "unknown skeleton: its joints are named"},
        {"mixamorig:Hips", "mixamorig:Pelvis", "ROOT", 0, "no hips: no joint named Hips"},
        {"\n0.000000 95.000000", "\n0.000000 9x5", "Frame Time", 1, "'9x5' is not a number"},
        {"\n0.000000 95.000000", "\n95.000000", "Frame Time", 1, "89 values on a frame line, expected 90"},
        {"\n0.000000 95.000000", "\n1e39 95.000000", "Frame Time", 1, "'1e39' is out of range"},
        {"OFFSET 5.000000 -3.000000", "OFFSET -1e308 -3.000000", "-1e308", 0, "'-1e308' is out of range"},
        {"Frames: 3", "Frames: 0", "Frames:", 0, "Frames: must be a whole number from 1 to 100000, not '0'"},
        {"Frames: 3", "Frames: 1e300", "Frames:", 0, "not '1e300'"},
        {"Frames: 3", "Frames: 18446744073709551616", "Frames:", 0, "not '18446744073709551616'"},
        {"Frames: 3", "Frames: 5", "Frames:", 0, "Frames: says 5 but the file has 3"},
        {"Frame Time: 0.0333333", "Frame Time: 0", "Frame Time", 0, "a frame time of 0 s; it must be from 0.0001"},
        {"Frame Time: 0.0333333", "Frame Time: 0.03\0\x1b[2J"s, "Frame Time", 0, "'0.03\\x00\\x1b[2J' is not a number"},
        {"JOINT mixamorig:Spine", "JOIN mixamorig:Spine", "JOIN ", 0, "'JOIN' is not part of a joint tree"},
        {"JOINT mixamorig:Spine", std::string(100000, 'J'), "JJ", 0, "'" + std::string(40, 'J') + "...' is not part"},
        {"Xrotation\n", "Xrotation\nCHANNELS 0\n", "Xrotation\nCHANNELS", 1, "a second CHANNELS for 'mixamorig:Hips'"},
        {"ROOT", chain, "JOINT x", 1023, "more than 1024 joints"},
    };
    const std::string good = Write(kStyles[0], TPose, 3).text;
    for (const auto& [find, replace, anchor, below, reason] : refusals) {
        std::string text = good;
        for (std::size_t at = 0; (at = text.find(find, at)) != std::string::npos; at += replace.size())
            text.replace(at, find.size(), replace);
        const auto line = std::count(text.begin(), text.begin() + text.find(anchor), '\n') + 1 + below;
        const std::string file = File(text);
        EXPECT_FALSE(Read({{"REPLAY", file}})) << reason;
        EXPECT_EQ(error.rfind("KESTRION_SIM_REPLAY: '" + file + "' line " + std::to_string(line) + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
    // Refused before they are read, or counted. (Folders, devices and files
    // too large: the replay test's; the messages' safety: the fuzz
    // target's, on its corpus.)
    const std::pair<std::map<std::string, std::string>, std::string> files[] = {
        {{{"REPLAY", "none.bvh"}}, "cannot read 'none.bvh': no such file"},
        {{{"REPLAY", "none.bvh,none.bvh"}, {"SUITS", "1"}}, "names 2 files for 1 suits"},
    };
    for (const auto& [given, message] : files) {
        EXPECT_FALSE(Read(given));
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
}

}  // namespace
