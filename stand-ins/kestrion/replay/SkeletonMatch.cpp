#include "kestrion/replay/SkeletonMatch.h"

#include "driver/Skeleton.h"
#include "kestrion/replay/Quoted.h"

#include <cctype>
#include <string_view>
#include <vector>

namespace kestrion {
namespace {

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

std::string_view NameIn(int style, int j) {
    if (j == Chest) return "";
    if (style == 0) return Skeleton()[std::size_t(j)].name;
    for (const OtherNames& other : kOtherStyles) {
        if (other.joint == j) return other.names[style - 1];
    }
    return "";
}

bool Optional(int j) { return j == Chest || j == LeftCollar || j == RightCollar || j == Neck; }

// "mixamorig:LeftArm" is LeftArm.
std::string_view Bare(std::string_view name) {
    const std::size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// In any case.
bool Same(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool Below(const BvhMotion& m, int joint, int ancestor) {
    for (int k = m.joints[std::size_t(joint)].parent; k >= 0; k = m.joints[std::size_t(k)].parent) {
        if (k == ancestor) return true;
    }
    return false;
}

// The lowest joint above both shoulders and the head, in one walk up from
// each.
int BranchOf(const BvhMotion& m, int leftShoulder, int rightShoulder, int head) {
    std::vector<char> above(m.joints.size(), 0);
    auto up = [&](int k) { return m.joints[std::size_t(k)].parent; };
    for (int k = up(rightShoulder); k >= 0; k = up(k)) above[std::size_t(k)] |= 1;
    for (int k = up(head); k >= 0; k = up(k)) above[std::size_t(k)] |= 2;
    int branch = up(leftShoulder);
    while (branch >= 0 && above[std::size_t(branch)] != 3) branch = up(branch);
    return branch;
}

}  // namespace

bool MatchSkeleton(const BvhMotion& m, std::array<int, kJointCount>* source, std::string* reason) {
    std::vector<std::string_view> bare;
    for (const BvhJoint& joint : m.joints) bare.push_back(Bare(joint.name));
    int best = 0, bestFound = -1;
    std::array<int, kJointCount> found[kStyles];
    for (int style = 0; style < kStyles; ++style) {
        int count = 0;
        for (int j = 0; j < kJointCount; ++j) {
            found[style][j] = -1;
            const std::string_view name = NameIn(style, j);
            for (std::size_t k = 0; k < bare.size() && !name.empty(); ++k) {
                if (Same(bare[k], name)) {
                    found[style][j] = int(k);
                    ++count;
                    break;
                }
            }
        }
        if (count > bestFound) best = style, bestFound = count;
    }
    std::array<int, kJointCount>& s = *source = found[best];
    if (bestFound < 3) {
        *reason =
            "unknown skeleton: its joints are named neither Hips, LeftUpLeg, LeftArm... nor hip, lThigh, "
            "lShldr...";
        return false;
    }
    if (s[Hips] < 0) {
        *reason = "no hips: no joint named " + std::string(NameIn(best, Hips));
        return false;
    }
    for (int j = 0; j < kJointCount; ++j) {
        if (s[j] < 0 && !Optional(j)) {
            *reason = "unknown skeleton: no joint named " + std::string(NameIn(best, j));
            return false;
        }
    }
    const int chest = BranchOf(m, s[LeftShoulder], s[RightShoulder], s[Head]);
    s[Chest] = chest == s[Hips] ? -1 : chest;
    for (int j = 1; j < kJointCount; ++j) {
        int up = Skeleton()[std::size_t(j)].parent;
        while (s[std::size_t(up)] < 0) up = Skeleton()[std::size_t(up)].parent;
        if (s[j] >= 0 && !Below(m, s[j], s[up])) {
            *reason = "unknown skeleton: " + Quoted(m.joints[std::size_t(s[j])].name) + " is not below " +
                      Quoted(m.joints[std::size_t(s[up])].name);
            return false;
        }
    }
    return true;
}

}  // namespace kestrion
