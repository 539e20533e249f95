#include "app/recording/BvhWriter.h"

#include "driver/Skeleton.h"

#include <string>

namespace kxhost {
namespace {

// Room for any frame count a run can make; BVH readers skip the blanks.
constexpr int kCountWidth = 12;

void Indent(std::string* text, int depth) { text->append(static_cast<std::size_t>(depth) * 2, ' '); }

void Line(std::string* text, int depth, const char* format, double x, double y, double z) {
    char line[128];
    std::snprintf(line, sizeof line, format, x, y, z);
    Indent(text, depth);
    text->append(line);
}

// The joint `index` and its subtree; the skeleton lists children after their
// parent, depth first.
void AppendJoint(std::string* text, int index, int depth) {
    const auto& joints = Skeleton();
    const SkeletonJoint& joint = joints[static_cast<std::size_t>(index)];
    Indent(text, depth);
    text->append(joint.parent < 0 ? "ROOT " : "JOINT ").append(joint.name).append("\n");
    Indent(text, depth);
    text->append("{\n");
    Line(text, depth + 1, "OFFSET %.2f %.2f %.2f\n", joint.offset[0], joint.offset[1], joint.offset[2]);
    Indent(text, depth + 1);
    text->append(joint.parent < 0 ? "CHANNELS 6 Xposition Yposition Zposition Zrotation Xrotation Yrotation\n"
                                  : "CHANNELS 3 Zrotation Xrotation Yrotation\n");
    for (int child = index + 1; child < kJointCount; ++child) {
        if (joints[static_cast<std::size_t>(child)].parent == index) AppendJoint(text, child, depth + 1);
    }
    if (joint.leaf) {
        Indent(text, depth + 1);
        text->append("End Site\n");
        Indent(text, depth + 1);
        text->append("{\n");
        Line(text, depth + 2, "OFFSET %.2f %.2f %.2f\n", joint.endSite[0], joint.endSite[1], joint.endSite[2]);
        Indent(text, depth + 1);
        text->append("}\n");
    }
    Indent(text, depth);
    text->append("}\n");
}

}  // namespace

BvhWriter::BvhWriter(std::FILE* file, double frameTimeSeconds) : file_(file), frameTime_(frameTimeSeconds) {}

bool BvhWriter::Begin() {
    std::string text = "HIERARCHY\n";
    AppendJoint(&text, 0, 0);
    text.append("MOTION\nFrames: ");
    if (std::fputs(text.c_str(), file_) < 0) return false;
    countOffset_ = std::ftell(file_);
    return std::fprintf(file_, "%-*d\nFrame Time: %.9g\n", kCountWidth, 0, frameTime_) > 0;
}

bool BvhWriter::Add(const Frame& frame) {
    std::string line;
    line.reserve(512);
    auto value = [&line](float v) {
        char number[64];
        std::snprintf(number, sizeof number, line.empty() ? "%.3f" : " %.3f", v);
        line.append(number);
    };
    value(frame.position.x);
    value(frame.position.y);
    value(frame.position.z);
    // Each joint's Vector holds its angles about X, Y and Z; the channels
    // list them in the order they compose, Z X Y.
    for (const Vector& r : frame.rotations) {
        value(r.z);
        value(r.x);
        value(r.y);
    }
    line.push_back('\n');
    if (std::fputs(line.c_str(), file_) < 0) return false;
    ++frames_;
    return true;
}

bool BvhWriter::Finish() {
    if (countOffset_ < 0 || std::fseek(file_, countOffset_, SEEK_SET) != 0) return false;
    const bool written = std::fprintf(file_, "%-*ld", kCountWidth, frames_) == kCountWidth;
    return std::fseek(file_, 0, SEEK_END) == 0 && written;
}

}  // namespace kxhost
