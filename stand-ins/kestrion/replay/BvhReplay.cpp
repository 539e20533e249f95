#include "kestrion/replay/BvhReplay.h"

#include "driver/Skeleton.h"
#include "kestrion/replay/BvhReader.h"
#include "kestrion/motion/Rotation.h"
#include "kestrion/replay/SkeletonMatch.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace kestrion {
namespace {

constexpr int kJoints = kJointCount;
using namespace joint;

// The joint whose bone a joint's rotation swings: its one child, where it
// has exactly one.
int BoneEnd(int j) {
    static const std::array<int, kJoints> ends = [] {
        std::array<int, kJoints> e;
        e.fill(-1);
        std::array<int, kJoints> children{};
        for (int c = 1; c < kJoints; ++c) {
            const int up = Skeleton()[std::size_t(c)].parent;
            if (children[std::size_t(up)]++ == 0) e[std::size_t(up)] = c;
        }
        for (int k = 0; k < kJoints; ++k) e[std::size_t(k)] = children[std::size_t(k)] == 1 ? e[std::size_t(k)] : -1;
        return e;
    }();
    return ends[std::size_t(j)];
}

Vec3 V3(const std::array<double, 3>& a) { return {a[0], a[1], a[2]}; }

bool Usable(Vec3 v) { return Length(v) > 1e-9; }

// Whether two directions span a plane, so that a basis follows from them.
bool Spanning(Vec3 a, Vec3 b) { return Usable(a) && Usable(b) && Length(Cross(a, b)) > 1e-6 * Length(a) * Length(b); }

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

// Where a body's joints are with every channel at zero, turned by `up`.
std::vector<Vec3> RestPositions(const BvhMotion& m, const Mat3& up) {
    std::vector<Vec3> at;
    for (const BvhJoint& j : m.joints) {
        at.push_back((j.parent < 0 ? Vec3{} : at[std::size_t(j.parent)]) + up * V3(j.offset));
    }
    return at;
}

double Height(const BvhMotion& m, const Mat3& up) {
    const std::vector<Vec3> at = RestPositions(m, up);
    double low = at[0].y, high = at[0].y;
    for (std::size_t k = 0; k < m.joints.size(); ++k) {
        low = std::fmin(low, at[k].y);
        high = std::fmax(high, at[k].y);
        for (const auto& end : m.joints[k].endSites) {
            low = std::fmin(low, at[k].y + (up * V3(end)).y);
            high = std::fmax(high, at[k].y + (up * V3(end)).y);
        }
    }
    return high - low;
}

// The turn that stands a skeleton up: its hips-to-head line at rest along
// +Y. Files made Z-up lie along Z.
Mat3 Upright(const BvhMotion& m, const std::array<int, kJoints>& s) {
    const std::vector<Vec3> at = RestPositions(m, Mat3());
    const Vec3 up = at[std::size_t(s[Head])] - at[std::size_t(s[Hips])];
    const double c[3] = {up.x, up.y, up.z};
    int axis = 1;
    for (int a = 0; a < 3; ++a) {
        if (std::fabs(c[a]) > std::fabs(c[axis])) axis = a;
    }
    const double sign = c[axis] < 0 ? -1 : 1;
    return Between({axis == 0 ? sign : 0, axis == 1 ? sign : 0, axis == 2 ? sign : 0}, {0, 1, 0});
}

// What a joint's world orientation carries over from the source: its
// bone's direction, or, where bones branch, the direction of the trunk and
// a second one that fixes the turn about it.
struct Aim {
    Vec3 along, towards;
    bool branching = false;
};

// The chain the hips' bone to the chest, and the chest's to the neck, stand
// for: up to the source's chest, or its neck (its head without one).
int TrunkEnd(const std::array<int, kJoints>& s, int j) {
    if (j == Hips && s[Chest] >= 0) return s[Chest];
    return s[Neck] >= 0 ? s[Neck] : s[Head];
}

std::array<Aim, kJoints> Aims(const BvhMotion& m, const std::array<int, kJoints>& s, const Mat3& up) {
    const std::vector<Vec3> at = RestPositions(m, up);
    auto pos = [&](int j) { return at[std::size_t(s[j])]; };
    std::array<Aim, kJoints> aims{};
    for (int j = 0; j < kJoints; ++j) {
        if (s[j] < 0) continue;
        const BvhJoint& joint = m.joints[std::size_t(s[j])];
        Aim& a = aims[j];
        if (j == Hips || j == Chest) {
            const Vec3 across = j == Hips ? pos(LeftHip) - pos(RightHip) : pos(LeftShoulder) - pos(RightShoulder);
            a = {at[std::size_t(TrunkEnd(s, j))] - pos(j), across, true};
        } else if (BoneEnd(j) >= 0) {
            a.along = pos(BoneEnd(j)) - pos(j);
        } else if (j == Head) {
            a.along = up * V3(joint.offset);  // a head's children may be eyes: its neck tells its line
        } else {                              // hands and feet point to the middle of their fingers or toes
            Vec3 tip;
            for (std::size_t k = std::size_t(s[j]) + 1; k < m.joints.size(); ++k) {
                if (m.joints[k].parent == s[j]) tip = tip + V3(m.joints[k].offset);
            }
            for (const auto& end : joint.endSites) tip = tip + V3(end);
            a.along = up * (Usable(tip) ? tip : V3(joint.offset));
        }
    }
    return aims;
}

// The rotation that takes our rest orientation of a joint to the source's:
// our world orientation is the source's times it.
Mat3 Correction(const Aim& ours, const Aim& theirs) {
    if (!Usable(ours.along) || !Usable(theirs.along)) return Mat3();
    if (!theirs.branching || !Spanning(ours.along, ours.towards) || !Spanning(theirs.along, theirs.towards)) {
        return Between(ours.along, theirs.along);
    }
    return Basis(theirs.along, theirs.towards) * Transposed(Basis(ours.along, ours.towards));
}

// The source's skeleton posed by one frame line, computed only as far as
// our joints need: a joint without channels turns with its parent, so it
// is its nearest ancestor with channels (its anchor) plus a fixed offset,
// and a frame costs as much as the values on its line.
class SourcePose {
public:
    SourcePose(const BvhMotion& m, const std::array<int, kJoints>& s, const Mat3& up) : m_(m), up_(up) {
        for (int i = 0; i < 3; ++i) {
            for (int k = 0; k < 3; ++k) upright_ = upright_ && up.m[i][k] == (i == k ? 1 : 0);
        }
        const std::size_t n = m.joints.size();
        anchor_.assign(n, -1);
        fixed_.assign(n, Vec3{});
        std::vector<char> needed(n, 0);
        for (int j = 0; j < kJoints; ++j) {
            for (int k = s[j]; k >= 0 && !needed[std::size_t(k)]; k = m.joints[std::size_t(k)].parent) {
                needed[std::size_t(k)] = 1;
            }
        }
        for (std::size_t k = 0; k < n; ++k) {
            const BvhJoint& joint = m.joints[k];
            if (!joint.channels.empty()) {
                anchor_[k] = int(k);
                if (needed[k]) steps_.push_back(k);
            } else if (joint.parent >= 0) {
                anchor_[k] = anchor_[std::size_t(joint.parent)];
                fixed_[k] = fixed_[std::size_t(joint.parent)] + V3(joint.offset);
            } else {
                fixed_[k] = V3(joint.offset);
            }
        }
        world_.resize(n);
        at_.resize(n);
        for (int j = 0; j < kJoints; ++j) source_[j] = s[j];
    }

    void Compute(const double* values) {
        for (std::size_t k : steps_) {
            const BvhJoint& joint = m_.joints[k];
            const int up = joint.parent < 0 ? -1 : anchor_[std::size_t(joint.parent)];
            Vec3 offset = (joint.parent < 0 ? Vec3{} : fixed_[std::size_t(joint.parent)]) + V3(joint.offset);
            Mat3 local;
            for (std::size_t c = 0; c < joint.channels.size(); ++c) {
                const int kind = static_cast<int>(joint.channels[c]);
                const double v = values[joint.firstValue + c];
                if (kind >= 3) {
                    local = local * AxisRotation(kind - 3, v);
                } else {
                    (kind == 0 ? offset.x : kind == 1 ? offset.y : offset.z) += v;
                }
            }
            world_[k] = up < 0 ? local : world_[std::size_t(up)] * local;
            at_[k] = up < 0 ? offset : at_[std::size_t(up)] + world_[std::size_t(up)] * offset;
        }
    }
    // Our joint j's counterpart, stood up.
    Mat3 World(int j) const {
        const int a = anchor_[std::size_t(source_[j])];
        const Mat3 world = a < 0 ? Mat3() : world_[std::size_t(a)];
        return upright_ ? world : up_ * world * Transposed(up_);
    }
    Vec3 At(int sourceJoint) const {
        const int a = anchor_[std::size_t(sourceJoint)];
        const Vec3 f = fixed_[std::size_t(sourceJoint)];
        const Vec3 at = a < 0 ? f : at_[std::size_t(a)] + world_[std::size_t(a)] * f;
        return upright_ ? at : up_ * at;
    }

private:
    const BvhMotion& m_;
    const Mat3 up_;
    bool upright_ = true;  // already: up_ turns nothing
    std::vector<int> anchor_;
    std::vector<Vec3> fixed_;
    std::vector<std::size_t> steps_;  // the joints with channels that our joints hang from
    std::vector<Mat3> world_;
    std::vector<Vec3> at_;
    int source_[kJoints];
};

}  // namespace

bool ReplayBvh(std::string_view text, std::size_t maxFrames, double* frameSeconds, std::vector<ReplayFrame>* frames,
               std::size_t* line, std::string* reason) {
    BvhReader reader(text, maxFrames);
    BvhMotion m;
    std::array<int, kJoints> s{};
    auto refuse = [&](std::size_t at, std::string why) {
        *line = at;
        *reason = std::move(why);
        return false;
    };
    if (!reader.ReadHeader(&m)) return refuse(reader.Line(), reader.Reason());
    if (!MatchSkeleton(m, &s, reason)) return refuse(m.joints[0].line, *reason);
    const Mat3 up = Upright(m, s);
    const double height = Height(m, up);
    if (!(height > 1e-9)) return refuse(m.joints[0].line, "the skeleton has no height");
    const double scale = Height(OurBody(), Mat3()) / height;

    std::array<int, kJoints> same;
    for (int j = 0; j < kJoints; ++j) same[std::size_t(j)] = j;
    const std::array<Aim, kJoints> ours = Aims(OurBody(), same, Mat3()), theirs = Aims(m, s, up);
    std::array<Mat3, kJoints> correction, ourBasis;
    for (int j = 0; j < kJoints; ++j) {
        correction[j] = Correction(ours[j], theirs[j]);
        if (ours[j].branching) ourBasis[j] = Transposed(Basis(ours[j].along, ours[j].towards));
    }

    *frameSeconds = m.frameSeconds;
    frames->clear();
    frames->reserve(std::min(m.frames, text.size() / 2));
    SourcePose source(m, s, up);
    std::vector<double> values(m.valuesPerFrame);
    ReplayFrame previous{};
    while (reader.ReadFrame(values.data())) {
        source.Compute(values.data());
        ReplayFrame& out = frames->emplace_back();
        Mat3 ourWorld[kJoints];
        for (int j = 0; j < kJoints; ++j) {
            const int up = Skeleton()[std::size_t(j)].parent;
            if (s[j] < 0) {
                ourWorld[j] = ourWorld[up];
            } else if (theirs[j].branching) {
                // The trunk's bone along the source's, turned about it as
                // the source's joint is.
                const Vec3 trunk = source.At(TrunkEnd(s, j)) - source.At(s[j]);
                const Vec3 across = source.World(j) * theirs[j].towards;
                ourWorld[j] = Spanning(trunk, across) ? Basis(trunk, across) * ourBasis[j]
                                                      : source.World(j) * correction[j];
            } else {
                ourWorld[j] = source.World(j) * correction[j];
                // Joints of the source between this one and the next fold
                // in: the bone still ends where the source's does.
                const int end = BoneEnd(j);
                const Vec3 now = end >= 0 && s[end] >= 0 ? source.At(s[end]) - source.At(s[j]) : Vec3{};
                if (Usable(now) && Usable(ours[j].along)) {
                    ourWorld[j] = Between(ourWorld[j] * ours[j].along, now) * ourWorld[j];
                }
            }
            const Mat3 local = up < 0 ? ourWorld[j] : Transposed(ourWorld[up]) * ourWorld[j];
            out.rotations[j] = ToSuitAngles(local, previous.rotations[j]);
        }
        const Vec3 hips = scale * source.At(s[Hips]);
        if (!(std::fabs(hips.x) <= kMaxMagnitude && std::fabs(hips.y) <= kMaxMagnitude &&
              std::fabs(hips.z) <= kMaxMagnitude)) {
            char why[128];
            std::snprintf(why, sizeof why, "the hips come to %.3g cm from the origin; a replay keeps within %.0f cm",
                          Length(hips), kMaxMagnitude);
            reader.Fail(why);
            break;
        }
        out.position = Vector(float(hips.x), float(hips.y), float(hips.z));
        previous = out;
    }
    if (reader.Failed()) return refuse(reader.Line(), reader.Reason());
    return true;
}

}  // namespace kestrion
