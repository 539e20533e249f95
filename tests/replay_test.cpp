// Captured motion replayed through the simulated suits: files in each naming
// style and rest pose, written here, must move our skeleton's bones the way
// the source's move; and the files the suit library refuses.
#include "kestrion/Replay.h"
#include "kestrion-host/Skeleton.h"
#include "support/Kinematics.h"
#include "support/SimEnvironment.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace kxtest;

// A joint of a source skeleton in its T-pose; '%' in a name is the side, a
// name ending in _End an end site. `still`: no channels.
struct Bone {
    std::string name, parent;
    Vec3 offset;
    bool still = false;
};

struct Style {
    const char *name, *left, *right, *prefix;
    const char* order;  // of the rotation channels
    double unit;        // per cm
    std::vector<Bone> bones;
    std::vector<std::string> ours;  // the joint standing for each of ours
    // What a foot, a hand and the head point to: the middle of these.
    std::vector<std::string> tips[3];
};

std::string Side(std::string name, const char* side) {
    if (name.find('%') != std::string::npos) name.replace(name.find('%'), 1, side);
    return name;
}

Style Sided(Style s, const std::vector<Bone>& leftSide) {
    for (const char* side : {s.left, s.right}) {
        for (const Bone& b : leftSide) {
            s.bones.push_back({Side(b.name, side), Side(b.parent, side), b.offset, b.still});
            if (side == s.right) s.bones.back().offset.x = -b.offset.x;
        }
    }
    return s;
}

const std::vector<Style>& Styles() {
    static const std::vector<Style> styles = [] {
        std::vector<Style> s;
        // Prefixed, with hip joints, three spine joints, two neck joints,
        // toes, a thumb and fingers.
        s.push_back(Sided({"UpLeg",
                           "Left",
                           "Right",
                           "mixamorig:",
                           "ZYX",
                           1.0,
                           {{"Hips", "", {0, 0, 0}},
                            {"Spine", "Hips", {0, 10, 0}},
                            {"Spine1", "Spine", {0, 12, -1}},
                            {"Spine2", "Spine1", {0, 12, -1}},
                            {"Neck", "Spine2", {0, 14, 1}},
                            {"Neck1", "Neck", {0, 5, 1}},
                            {"Head", "Neck1", {0, 7, 0}},
                            {"HeadTop_End", "Head", {0, 18, 0}}},
                           {"Hips", "LeftUpLeg", "LeftLeg", "LeftFoot", "RightUpLeg", "RightLeg", "RightFoot", "Spine2",
                            "LeftShoulder", "LeftArm", "LeftForeArm", "LeftHand", "RightShoulder", "RightArm",
                            "RightForeArm", "RightHand", "Neck", "Head"},
                           {{"%ToeBase"}, {"%HandThumb1", "%HandIndex1", "%HandPinky1"}, {"HeadTop_End"}}},
                          {{"%HipJoint", "Hips", {5, -3, 0}, true},
                           {"%UpLeg", "%HipJoint", {4, -4, 0}},
                           {"%Leg", "%UpLeg", {0, -44, 1}},
                           {"%Foot", "%Leg", {0, -42, -1}},
                           {"%ToeBase", "%Foot", {0, -6, 13}},
                           {"%Toe_End", "%ToeBase", {0, 0, 5}},
                           {"%Shoulder", "Spine2", {4, 10, 0}},
                           {"%Arm", "%Shoulder", {13, 0, 0}},
                           {"%ForeArm", "%Arm", {27, 0, 0}},
                           {"%Hand", "%ForeArm", {25, 0, 0}},
                           {"%HandThumb1", "%Hand", {3, -1, 3}},
                           {"%HandThumb_End", "%HandThumb1", {3, 0, 1}},
                           {"%HandIndex1", "%Hand", {9, 0, 2}},
                           {"%HandIndex_End", "%HandIndex1", {4, 0, 0}},
                           {"%HandPinky1", "%Hand", {8, 0, -2.5}},
                           {"%HandPinky_End", "%HandPinky1", {3, 0, 0}}}));
        // In inches, with an abdomen, toes, a thumb, a finger and eyes.
        s.push_back(Sided({"lThigh",
                           "l",
                           "r",
                           "",
                           "YXZ",
                           1 / 2.54,
                           {{"hip", "", {0, 0, 0}},
                            {"abdomen", "hip", {0, 12, 0}},
                            {"chest", "abdomen", {0, 20, -1}},
                            {"neck", "chest", {0, 18, 1}},
                            {"head", "neck", {0, 10, 0}},
                            {"head_End", "head", {0, 19, 0}}},
                           {"hip", "lThigh", "lShin", "lFoot", "rThigh", "rShin", "rFoot", "chest", "lCollar", "lShldr",
                            "lForeArm", "lHand", "rCollar", "rShldr", "rForeArm", "rHand", "neck", "head"},
                           {{"%Toe"}, {"%Thumb1", "%Mid1"}, {"head_End"}}},
                          {{"%Thigh", "hip", {9, -6, 0}},
                           {"%Shin", "%Thigh", {0, -43, 0}},
                           {"%Foot", "%Shin", {0, -41, 0}},
                           {"%Toe", "%Foot", {0, -6, 12}},
                           {"%Toe_End", "%Toe", {0, 0, 4}},
                           {"%Collar", "chest", {3, 15, 0}},
                           {"%Shldr", "%Collar", {12, 0, 0}},
                           {"%ForeArm", "%Shldr", {26, 0, 0}},
                           {"%Hand", "%ForeArm", {24, 0, 0}},
                           {"%Thumb1", "%Hand", {2, -1, 3}},
                           {"%Thumb_End", "%Thumb1", {3, 0, 1}},
                           {"%Mid1", "%Hand", {8.5, 0, 0}},
                           {"%Mid_End", "%Mid1", {4, 0, 0}},
                           {"%Eye", "head", {3, 5, 8}},
                           {"%Eye_End", "%Eye", {0, 0, 2}}}));
        // Our own skeleton, in metres.
        Style own{"Own", "Left", "Right", "", "ZXY", 0.01, {}, {}, {{"%Ankle_End"}, {"%Wrist_End"}, {"Head_End"}}};
        for (const kxhost::Joint& j : kxhost::Skeleton()) {
            own.bones.push_back({j.name,
                                 j.parent < 0 ? "" : kxhost::Skeleton()[j.parent].name,
                                 {j.offset[0], j.offset[1], j.offset[2]}});
            if (j.leaf)
                own.bones.push_back({std::string(j.name) + "_End", j.name, {j.endSite[0], j.endSite[1], j.endSite[2]}});
            own.ours.push_back(j.name);
        }
        s.push_back(own);
        return s;
    }();
    return styles;
}

enum class Rest { TPose, APose, BentArms };
const char* const kRestNames[] = {"TPose", "APose", "BentArms"};

bool IsEnd(const Bone& b) { return b.name.size() > 4 && b.name.compare(b.name.size() - 4, 4, "_End") == 0; }

// A source file: its bones in file order, its text, and where its joints
// are in each frame.
struct Source {
    std::vector<Bone> bones;
    Body body;
    std::string text;
    std::vector<Posed> frames;
    double height = 0;  // at rest, in file units

    int Index(const std::string& name) const {
        for (std::size_t k = 0; k < bones.size(); ++k) {
            if (bones[k].name == name) return int(k);
        }
        ADD_FAILURE() << "no bone " << name;
        return 0;
    }
};

// The style's skeleton in `rest` pose, moving every channel it has.
Source Write(const Style& style, Rest rest, int frameCount) {
    Source src;
    std::function<void(const std::string&, int)> add = [&](const std::string& parent, int up) {
        for (const Bone& b : style.bones) {
            if (b.parent != parent) continue;
            src.bones.push_back(b);
            src.body.parent.push_back(up);
            src.body.offset.push_back(style.unit * b.offset);
            add(b.name, int(src.bones.size()) - 1);
        }
    };
    add("", -1);
    // Arms lowered 45 degrees at the shoulder, and bent 50 degrees forward
    // at the elbow as well.
    auto turnBelow = [&](const std::string& top, const Mat3& r) {
        for (std::size_t k = 0; k < src.bones.size(); ++k) {
            for (int up = src.body.parent[k]; up >= 0; up = src.body.parent[up]) {
                if (up == src.Index(top)) src.body.offset[k] = r * src.body.offset[k];
            }
        }
    };
    for (int side = 0; side < 2; ++side) {
        if (rest != Rest::TPose) turnBelow(style.ours[side ? 13 : 9], Rotation('Z', side ? 45 : -45));
        if (rest == Rest::BentArms) turnBelow(style.ours[side ? 14 : 10], Rotation('Y', side ? 50 : -50));
    }
    double low = 1e9, high = -1e9;
    for (const Vec3& p : Forward(src.body, {}, {}).at) low = std::fmin(low, p.y), high = std::fmax(high, p.y);
    src.height = high - low;

    char text[160];
    std::function<void(int, int)> write = [&](int k, int depth) {
        const std::string pad(std::size_t(depth) * 2, ' ');
        const Bone& b = src.bones[std::size_t(k)];
        const Vec3& o = src.body.offset[std::size_t(k)];
        src.text += pad + (IsEnd(b) ? "End Site" : (k == 0 ? "ROOT " : "JOINT ") + (style.prefix + b.name)) + "\n" +
                    pad + "{\n";
        std::snprintf(text, sizeof text, "%s  OFFSET %.6f %.6f %.6f\n", pad.c_str(), o.x, o.y, o.z);
        src.text += text;
        if (!IsEnd(b)) {
            src.text += pad + "  CHANNELS " + (k == 0 ? "6 Xposition Yposition Zposition" : b.still ? "0" : "3");
            for (const char* c = style.order; *c != '\0' && !b.still; ++c)
                src.text += std::string(" ") + *c + "rotation";
            src.text += "\n";
        }
        for (std::size_t child = 0; child < src.bones.size(); ++child) {
            if (src.body.parent[child] == k) write(int(child), depth + 1);
        }
        src.text += pad + "}\n";
    };
    src.text = "HIERARCHY\n";
    write(0, 0);
    src.text += "MOTION\nFrames: " + std::to_string(frameCount) + "\nFrame Time: 0.0333333\n";
    for (int f = 0; f < frameCount; ++f) {
        const double time = f / 30.0;
        const Vec3 root = style.unit * Vec3{12 * time, 95, 7 * time};
        std::snprintf(text, sizeof text, "%.6f %.6f %.6f", root.x, root.y, root.z);
        src.text += text;
        std::vector<Mat3> local(src.bones.size());
        for (std::size_t k = 0; k < src.bones.size(); ++k) {
            if (IsEnd(src.bones[k]) || src.bones[k].still) continue;
            double angles[3];
            for (int c = 0; c < 3; ++c) {
                angles[c] = 35 * std::sin(0.9 * time * (1 + 0.31 * k + 0.17 * c) + 0.7 * k + 1.3 * c);
                std::snprintf(text, sizeof text, " %.6f", angles[c]);
                src.text += text;
            }
            local[k] = Compose(style.order, angles);
        }
        src.text += "\n";
        src.frames.push_back(Forward(src.body, root, local));
    }
    return src;
}

class ReplayMapping : public ::testing::TestWithParam<std::tuple<int, Rest>> {};

// Each bone of ours, and the hips' line from right to left.
constexpr int kBones[][2] = {{kRightHip, kLeftHip},
                             {kLeftHip, kLeftKnee},
                             {kLeftKnee, kLeftAnkle},
                             {kLeftAnkle, kLeftToe},
                             {kRightHip, kRightKnee},
                             {kRightKnee, kRightAnkle},
                             {kRightAnkle, kRightToe},
                             {kChest, kNeck},
                             {kLeftCollar, kLeftShoulder},
                             {kLeftShoulder, kLeftElbow},
                             {kLeftElbow, kLeftWrist},
                             {kLeftWrist, kLeftHand},
                             {kRightCollar, kRightShoulder},
                             {kRightShoulder, kRightElbow},
                             {kRightElbow, kRightWrist},
                             {kRightWrist, kRightHand},
                             {kNeck, kHead},
                             {kHead, kHeadTop}};

TEST_P(ReplayMapping, MovesEveryBoneAsTheSourceDoes) {
    const Style& style = Styles()[std::get<0>(GetParam())];
    const Source src = Write(style, std::get<1>(GetParam()), 45);
    std::string error;
    const auto replay = kestrion::Replay::FromText(src.text, "mapped.bvh", &error);
    ASSERT_NE(replay, nullptr) << error;
    ASSERT_EQ(replay->Frames(), src.frames.size());

    // Where a point of ours is in the source: a joint, or the middle of what
    // a foot, a hand or the head points to.
    auto at = [&](const Posed& p, int point) {
        if (point < kxhost::kJointCount) return p.at[src.Index(style.ours[point])];
        const auto& tips = style.tips[point <= kRightToe ? 0 : point <= kRightHand ? 1 : 2];
        Vec3 sum;
        for (const std::string& tip : tips)
            sum = sum + p.at[src.Index(Side(tip, point % 2 ? style.right : style.left))];
        return (1.0 / tips.size()) * sum;
    };
    double worst = 0;
    for (std::size_t f = 0; f < src.frames.size(); ++f) {
        Frame frame{};
        replay->Pose((f + 0.5) * replay->FrameSeconds(), kestrion::MotionSettings(), &frame);
        const Posed ours = Draw(frame);
        for (const auto& bone : kBones) {
            const double off = DegreesBetween(ours.at[bone[1]] - ours.at[bone[0]],
                                              at(src.frames[f], bone[1]) - at(src.frames[f], bone[0]));
            EXPECT_LT(off, 2.0) << "frame " << f << ", the bone from joint " << bone[0];
            worst = std::fmax(worst, off);
        }
        // Centimetres, by the height of the skeleton.
        const Vec3 miss = ours.at[kHips] - (177.0 / src.height) * src.frames[f].at[0];
        ASSERT_LT(kestrion::Length(miss), 0.01) << "frame " << f;
    }
    std::printf("%s names, %s: worst direction error %.1e degrees\n", style.name,
                kRestNames[int(std::get<1>(GetParam()))], worst);
}

INSTANTIATE_TEST_SUITE_P(Styles, ReplayMapping,
                         ::testing::Combine(::testing::Values(0, 1, 2),
                                            ::testing::Values(Rest::TPose, Rest::APose, Rest::BentArms)),
                         [](const ::testing::TestParamInfo<std::tuple<int, Rest>>& info) {
                             return std::string(Styles()[std::get<0>(info.param)].name) + "Names" +
                                    kRestNames[int(std::get<1>(info.param))];
                         });

TEST(ReplayCalibration, NullAndNorthMakeThePresentPlaceAndHeadingTheOrigin) {
    std::string error;
    const auto replay = kestrion::Replay::FromText(Write(Styles()[1], Rest::TPose, 20).text, "turning.bvh", &error);
    ASSERT_NE(replay, nullptr) << error;
    kestrion::MotionSettings s;
    replay->Placement(0.3, &s.nullX, &s.nullZ, &s.northDegrees);
    ASSERT_GT(std::fabs(s.northDegrees), 5.0f);
    Frame f{};
    replay->Pose(0.3, s, &f);
    const Vec3 ahead = Draw(f).world[kHips] * Vec3{0, 0, 1};
    EXPECT_NEAR(f.position.x, 0.0f, 1e-3);
    EXPECT_NEAR(f.position.z, 0.0f, 1e-3);
    EXPECT_NEAR(std::atan2(ahead.x, ahead.z), 0.0, 1e-4);
}

// Files for KESTRION_SIM_REPLAY, removed at the end of the test.
class ReplaySetting : public SimEnvironment {
protected:
    ~ReplaySetting() override {
        for (const std::string& f : files_) std::remove(f.c_str());
    }
    std::string File(const std::string& text) {
        const std::string name = "kx-replay-" +
                                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
                                 std::to_string(files_.size()) + ".bvh";
        files_.push_back((std::filesystem::temp_directory_path() / name).string());
        std::ofstream(files_.back(), std::ios::binary) << text;
        return files_.back();
    }
    bool ReadReplay(const std::string& list) {
        Set("KESTRION_SIM_REPLAY", list.c_str());
        return Read();
    }

    std::vector<std::string> files_;
};

TEST_F(ReplaySetting, GivesEachFileASuitUnlessTheSuitsAreCounted) {
    const std::string text = Write(Styles()[0], Rest::TPose, 3).text;
    const std::string a = File(text), b = File(text);
    ASSERT_TRUE(ReadReplay(a + "," + b)) << error;
    EXPECT_EQ(settings.suits, 2);
    ASSERT_EQ(settings.replays.size(), 2u);
    EXPECT_EQ(settings.replays[1]->Frames(), 3u);
    Set("KESTRION_SIM_SUITS", "3");
    ASSERT_TRUE(ReadReplay(a)) << error;
    EXPECT_EQ(settings.suits, 3);  // the others walk
    Set("KESTRION_SIM_SUITS", "1");
    EXPECT_FALSE(ReadReplay(a + "," + b));
    EXPECT_EQ(error, "KESTRION_SIM_REPLAY names 2 files for 1 suits");
    EXPECT_FALSE(ReadReplay(a + ",," + b));
    EXPECT_NE(error.find("separated by commas"), std::string::npos) << error;
    EXPECT_FALSE(ReadReplay(a + ".missing"));
    EXPECT_EQ(error, "KESTRION_SIM_REPLAY: cannot read '" + a + ".missing'");
}

// A good file made bad: every `find` replaced; the message names the line
// `lines` below the first holding `line`, and the reason.
struct Refusal {
    const char *name, *find, *replace, *line;
    int lines;
    const char* reason;
    friend void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }
};

class RefusedReplay : public ReplaySetting, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedReplay, NamesFileLineAndReason) {
    const Refusal& r = GetParam();
    std::string text = Write(Styles()[0], Rest::TPose, 3).text;
    ASSERT_NE(text.find(r.find), std::string::npos);
    for (std::size_t at = 0; (at = text.find(r.find, at)) != std::string::npos; at += std::strlen(r.replace)) {
        text.replace(at, std::strlen(r.find), r.replace);
    }
    int line = 1;
    for (std::size_t i = 0; i < text.find(r.line); ++i) line += text[i] == '\n' ? 1 : 0;
    const std::string file = File(text);
    EXPECT_FALSE(ReadReplay(file));
    const std::string start = "KESTRION_SIM_REPLAY: " + file + " line " + std::to_string(line + r.lines) + ": ";
    EXPECT_EQ(error.substr(0, start.size()), start) << error;
    EXPECT_NE(error.find(r.reason), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Files, RefusedReplay,
    ::testing::Values(
        Refusal{"UnknownSkeleton", "mixamorig:LeftForeArm", "mixamorig:LeftLowerArm", "ROOT", 0,
                "unknown skeleton: no joint named LeftForeArm"},
        Refusal{"ForeignNames", "mixamorig:", "mixamorig:X", "ROOT", 0, "unknown skeleton: its joints are named"},
        Refusal{"MissingHips", "mixamorig:Hips", "mixamorig:Pelvis", "ROOT", 0, "no hips: no joint named Hips"},
        Refusal{"BadNumber", "\n0.000000 95.000000", "\n0.000000 9x5", "Frame Time", 1, "'9x5' is not a number"},
        Refusal{"ShortLine", "\n0.000000 95.000000", "\n95.000000", "Frame Time", 1,
                "89 values on a frame line, expected 90"},
        Refusal{"ZeroFrames", "Frames: 3", "Frames: 0", "Frames:", 0, "no frames"},
        Refusal{"MissingFrames", "Frames: 3", "Frames: 5", "Frames:", 0, "Frames: says 5 but the file has 3"},
        Refusal{"AbsurdFrameTime", "Frame Time: 0.0333333", "Frame Time: 0", "Frame Time", 0,
                "a frame time of 0 s; it must be from 0.0001 to 10 s"},
        Refusal{"BrokenTree", "JOINT mixamorig:Spine", "JOIN mixamorig:Spine", "JOIN ", 0,
                "'JOIN' is not part of a joint tree"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

}  // namespace
