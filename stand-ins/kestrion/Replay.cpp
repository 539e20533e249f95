#include "kestrion/Replay.h"

#include "driver/Skeleton.h"
#include "kestrion/BvhReader.h"
#include "kestrion/Rotation.h"

#include <array>
#include <cctype>
#include <cmath>
#include <fstream>
#include <sstream>

namespace kestrion {
namespace {

constexpr int kJoints = kJointCount;
using namespace joint;

// How two other naming styles call our joints; our own style is our
// skeleton's names. The chest is not looked up by name: it is wherever the
// arms and the head branch off the spine, and spine joints below it fold
// into it.
constexpr int kStyles = 3;
struct OtherNames {
    Id joint;
    const char* names[kStyles - 1];
};
const OtherNames kOtherStyles[] = {
    {Hips, {"Hips", "hip"}},
    {LeftHip, {"LeftUpLeg", "lThigh"}},
    {LeftKnee, {"LeftLeg", "lShin"}},
    {LeftAnkle, {"LeftFoot", "lFoot"}},
    {RightHip, {"RightUpLeg", "rThigh"}},
    {RightKnee, {"RightLeg", "rShin"}},
    {RightAnkle, {"RightFoot", "rFoot"}},
    {LeftCollar, {"LeftShoulder", "lCollar"}},
    {LeftShoulder, {"LeftArm", "lShldr"}},
    {LeftElbow, {"LeftForeArm", "lForeArm"}},
    {LeftWrist, {"LeftHand", "lHand"}},
    {RightCollar, {"RightShoulder", "rCollar"}},
    {RightShoulder, {"RightArm", "rShldr"}},
    {RightElbow, {"RightForeArm", "rForeArm"}},
    {RightWrist, {"RightHand", "rHand"}},
    {Neck, {"Neck", "neck"}},
    {Head, {"Head", "head"}},
};

const char* NameIn(int style, int j) {
    if (j == Chest) return "";
    if (style == 0) return Skeleton()[std::size_t(j)].name;
    for (const OtherNames& other : kOtherStyles) {
        if (other.joint == j) return other.names[style - 1];
    }
    return "";
}

bool Optional(int j) { return j == Chest || j == LeftCollar || j == RightCollar || j == Neck; }

// The joint whose bone a joint's rotation swings: its one child, where it
// has exactly one.
int BoneEnd(int j) {
    int end = -1;
    for (int c = j + 1; c < kJoints; ++c) {
        if (Skeleton()[std::size_t(c)].parent != j) continue;
        if (end >= 0) return -1;
        end = c;
    }
    return end;
}

// "mixamorig:LeftArm" is LeftArm, in any case.
bool NamedAs(const std::string& name, const char* wanted) {
    const std::size_t colon = name.rfind(':');
    const std::string bare = colon == std::string::npos ? name : name.substr(colon + 1);
    std::size_t i = 0;
    for (; i < bare.size() && wanted[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(bare[i])) != std::tolower(static_cast<unsigned char>(wanted[i]))) {
            return false;
        }
    }
    return i == bare.size() && wanted[i] == '\0';
}

Vec3 V3(const std::array<double, 3>& a) { return {a[0], a[1], a[2]}; }

bool Usable(Vec3 v) { return Length(v) > 1e-9; }

// Our own skeleton in the reader's terms, so both bodies are measured alike.
const BvhMotion& OurBody() {
    static const BvhMotion body = [] {
        BvhMotion b;
        for (const SkeletonJoint& j : Skeleton()) {
            BvhJoint joint;
            joint.name = j.name;
            joint.parent = j.parent;
            joint.offset = {j.offset[0], j.offset[1], j.offset[2]};
            if (j.leaf) joint.endSites.push_back({j.endSite[0], j.endSite[1], j.endSite[2]});
            b.joints.push_back(joint);
        }
        return b;
    }();
    return body;
}

bool Below(const BvhMotion& m, int joint, int ancestor) {
    for (int k = m.joints[std::size_t(joint)].parent; k >= 0; k = m.joints[std::size_t(k)].parent) {
        if (k == ancestor) return true;
    }
    return false;
}

// Our joints in the source: the joint of the source per joint of ours, -1
// for an optional one it lacks. False with `reason` when the skeleton is
// not one we know.
bool Map(const BvhMotion& m, std::array<int, kJoints>* source, std::string* reason) {
    int best = 0, bestFound = -1;
    std::array<int, kJoints> found[kStyles];
    for (int style = 0; style < kStyles; ++style) {
        int count = 0;
        for (int j = 0; j < kJoints; ++j) {
            found[style][j] = -1;
            const char* name = NameIn(style, j);
            for (std::size_t k = 0; k < m.joints.size() && name[0] != '\0'; ++k) {
                if (NamedAs(m.joints[k].name, name)) {
                    found[style][j] = int(k);
                    ++count;
                    break;
                }
            }
        }
        if (count > bestFound) best = style, bestFound = count;
    }
    std::array<int, kJoints>& s = *source = found[best];
    if (bestFound < 3) {
        *reason =
            "unknown skeleton: its joints are named neither Hips, LeftUpLeg, LeftArm... nor hip, lThigh, "
            "lShldr...";
        return false;
    }
    if (s[Hips] < 0) {
        *reason = std::string("no hips: no joint named ") + NameIn(best, Hips);
        return false;
    }
    for (int j = 0; j < kJoints; ++j) {
        if (s[j] < 0 && !Optional(j)) {
            *reason = std::string("unknown skeleton: no joint named ") + NameIn(best, j);
            return false;
        }
    }
    // The lowest joint above both arms and the head.
    const int ends[3] = {s[LeftShoulder], s[RightShoulder], s[Head]};
    int chest = m.joints[std::size_t(ends[0])].parent;
    while (chest >= 0 && !(Below(m, ends[1], chest) && Below(m, ends[2], chest))) {
        chest = m.joints[std::size_t(chest)].parent;
    }
    s[Chest] = chest == s[Hips] ? -1 : chest;
    for (int j = 1; j < kJoints; ++j) {
        int up = Skeleton()[std::size_t(j)].parent;
        while (s[std::size_t(up)] < 0) up = Skeleton()[std::size_t(up)].parent;
        if (s[j] >= 0 && !Below(m, s[j], s[up])) {
            *reason = "unknown skeleton: " + m.joints[std::size_t(s[j])].name + " is not below " +
                      m.joints[std::size_t(s[up])].name;
            return false;
        }
    }
    return true;
}

// Where a body's joints are with every channel at zero.
std::vector<Vec3> RestPositions(const BvhMotion& m) {
    std::vector<Vec3> at;
    for (const BvhJoint& j : m.joints) at.push_back((j.parent < 0 ? Vec3{} : at[std::size_t(j.parent)]) + V3(j.offset));
    return at;
}

double Height(const BvhMotion& m) {
    const std::vector<Vec3> at = RestPositions(m);
    double low = at[0].y, high = at[0].y;
    for (std::size_t k = 0; k < m.joints.size(); ++k) {
        low = std::fmin(low, at[k].y);
        high = std::fmax(high, at[k].y);
        for (const auto& end : m.joints[k].endSites) {
            low = std::fmin(low, at[k].y + end[1]);
            high = std::fmax(high, at[k].y + end[1]);
        }
    }
    return high - low;
}

// What a joint's world orientation carries over from the source at rest:
// its bone's direction, or, where bones branch, a direction and a second
// one that fixes the turn about it.
struct Aim {
    Vec3 along, towards;
    bool branching = false;
};

std::array<Aim, kJoints> Aims(const BvhMotion& m, const std::array<int, kJoints>& s) {
    const std::vector<Vec3> at = RestPositions(m);
    auto pos = [&](int j) { return at[std::size_t(s[j])]; };
    auto upper = [&](int j) { return s[j] >= 0 ? pos(j) : pos(Head); };  // the neck, or the head without one
    std::array<Aim, kJoints> aims{};
    for (int j = 0; j < kJoints; ++j) {
        if (s[j] < 0) continue;
        const BvhJoint& joint = m.joints[std::size_t(s[j])];
        Aim& a = aims[j];
        if (j == Hips) {
            a = {pos(LeftHip) - pos(RightHip), (s[Chest] >= 0 ? pos(Chest) : upper(Neck)) - pos(Hips), true};
        } else if (j == Chest) {
            a = {upper(Neck) - pos(Chest), pos(LeftShoulder) - pos(RightShoulder), true};
        } else if (BoneEnd(j) >= 0) {
            a.along = pos(BoneEnd(j)) - pos(j);
        } else if (j == Head) {
            a.along = V3(joint.offset);  // a head's children may be eyes: its neck tells its line
        } else {                         // hands and feet point to the middle of their fingers or toes
            Vec3 tip;
            for (std::size_t k = std::size_t(s[j]) + 1; k < m.joints.size(); ++k) {
                if (m.joints[k].parent == s[j]) tip = tip + V3(m.joints[k].offset);
            }
            for (const auto& end : joint.endSites) tip = tip + V3(end);
            a.along = Usable(tip) ? tip : V3(joint.offset);
        }
    }
    return aims;
}

// The rotation that takes our rest orientation of a joint to the source's:
// our world orientation is the source's times it.
Mat3 Correction(const Aim& ours, const Aim& theirs) {
    if (!Usable(ours.along) || !Usable(theirs.along)) return Mat3();
    if (!theirs.branching) return Between(ours.along, theirs.along);
    if (!Usable(Cross(ours.along, ours.towards)) || !Usable(Cross(theirs.along, theirs.towards))) {
        return Between(ours.along, theirs.along);
    }
    return Basis(theirs.along, theirs.towards) * Transposed(Basis(ours.along, ours.towards));
}

// The source's joints in one frame: world rotations and positions.
void SourcePose(const BvhMotion& m, const double* values, std::vector<Mat3>* world, std::vector<Vec3>* at) {
    for (std::size_t k = 0; k < m.joints.size(); ++k) {
        const BvhJoint& joint = m.joints[k];
        Mat3 local;
        Vec3 offset = V3(joint.offset);
        for (std::size_t c = 0; c < joint.channels.size(); ++c) {
            const int kind = static_cast<int>(joint.channels[c]);
            const double v = values[std::size_t(joint.firstValue) + c];
            if (kind >= 3) {
                local = local * AxisRotation(kind - 3, v);
            } else {
                (kind == 0 ? offset.x : kind == 1 ? offset.y : offset.z) += v;
            }
        }
        const std::size_t up = std::size_t(joint.parent);
        (*world)[k] = joint.parent < 0 ? local : (*world)[up] * local;
        (*at)[k] = joint.parent < 0 ? offset : (*at)[up] + (*world)[up] * offset;
    }
}

}  // namespace

std::shared_ptr<const Replay> Replay::Load(const std::string& path, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    if (!(file && text << file.rdbuf())) {
        *error = "cannot read '" + path + "'";
        return nullptr;
    }
    return FromText(text.str(), path, error);
}

std::shared_ptr<const Replay> Replay::FromText(const std::string& text, const std::string& name, std::string* error) {
    BvhMotion m;
    int line = 0;
    std::string reason;
    std::array<int, kJoints> s{};
    if (ReadBvh(text, &m, &line, &reason) && !Map(m, &s, &reason)) line = m.joints[0].line;
    const double height = reason.empty() ? Height(m) : 0;
    if (reason.empty() && height < 1e-9) line = m.joints[0].line, reason = "the skeleton has no height";
    if (!reason.empty()) {
        *error = name + " line " + std::to_string(line) + ": " + reason;
        return nullptr;
    }

    std::array<int, kJoints> same;
    for (int j = 0; j < kJoints; ++j) same[std::size_t(j)] = j;
    const std::array<Aim, kJoints> ours = Aims(OurBody(), same), theirs = Aims(m, s);
    std::array<Mat3, kJoints> correction;
    for (int j = 0; j < kJoints; ++j) correction[j] = Correction(ours[j], theirs[j]);
    const double scale = Height(OurBody()) / height;

    auto replay = std::make_shared<Replay>();
    replay->frameSeconds_ = m.frameSeconds;
    replay->frames_.resize(m.frames);
    std::vector<Mat3> world(m.joints.size());
    std::vector<Vec3> at(m.joints.size());
    Vector previous[kJoints];
    for (Vector& p : previous) p = Vector(0, 0, 0);
    for (std::size_t f = 0; f < m.frames; ++f) {
        SourcePose(m, &m.values[f * m.valuesPerFrame], &world, &at);
        Sample& out = replay->frames_[f];
        Mat3 ourWorld[kJoints];
        for (int j = 0; j < kJoints; ++j) {
            const int up = Skeleton()[std::size_t(j)].parent;
            if (s[j] < 0) {
                ourWorld[j] = ourWorld[up];
            } else {
                ourWorld[j] = world[std::size_t(s[j])] * correction[j];
                // Joints of the source between this one and the next fold
                // in: the bone still ends where the source's does.
                const int end = BoneEnd(j);
                const Vec3 now = end >= 0 && s[end] >= 0 ? at[std::size_t(s[end])] - at[std::size_t(s[j])] : Vec3{};
                if (Usable(now) && Usable(ours[j].along)) {
                    ourWorld[j] = Between(ourWorld[j] * ours[j].along, now) * ourWorld[j];
                }
            }
            const Mat3 local = up < 0 ? ourWorld[j] : Transposed(ourWorld[up]) * ourWorld[j];
            out.rotations[j] = previous[j] = ToSuitAngles(local, previous[j]);
        }
        const Vec3 hips = scale * at[std::size_t(s[Hips])];
        out.position = Vector(float(hips.x), float(hips.y), float(hips.z));
    }
    return replay;
}

const Replay::Sample& Replay::At(double seconds) const {
    const double n = std::floor(seconds / frameSeconds_);
    const long long count = static_cast<long long>(frames_.size());
    const long long index = n > 0 ? static_cast<long long>(std::fmod(n, double(count))) : 0;
    return frames_[std::size_t(index)];
}

void Replay::Pose(double seconds, const MotionSettings& s, Frame* f) const {
    const Sample& sample = At(seconds);
    f->position = Vector(sample.position.x - s.nullX, sample.position.y, sample.position.z - s.nullZ);
    for (int j = 0; j < kJoints; ++j) f->rotations[j] = sample.rotations[j];
    if (s.northDegrees != 0) {
        const Vector& hips = sample.rotations[Hips];
        f->rotations[Hips] = ToSuitAngles(AxisRotation(1, -s.northDegrees) * FromSuitAngles(hips), hips);
    }
}

void Replay::Placement(double seconds, float* x, float* z, float* headingDegrees) const {
    const Sample& sample = At(seconds);
    *x = sample.position.x;
    *z = sample.position.z;
    const Vec3 ahead = FromSuitAngles(sample.rotations[Hips]) * Vec3{0, 0, 1};
    *headingDegrees = float(std::atan2(ahead.x, ahead.z) * 180 / 3.14159265358979323846);
}

bool LoadReplays(const std::string& list, std::vector<std::shared_ptr<const Replay>>* replays, std::string* error) {
    replays->clear();
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        const std::string path = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (path.empty()) {
            *error = "KESTRION_SIM_REPLAY must name BVH files separated by commas, not '" + list + "'";
            return false;
        }
        std::string why;
        auto replay = Replay::Load(path, &why);
        if (replay == nullptr) {
            *error = "KESTRION_SIM_REPLAY: " + why;
            return false;
        }
        replays->push_back(std::move(replay));
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

}  // namespace kestrion
