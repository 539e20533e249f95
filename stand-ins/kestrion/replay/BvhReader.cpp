#include "kestrion/replay/BvhReader.h"

#include "kestrion/replay/Limits.h"
#include "kestrion/replay/Quoted.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <utility>

namespace kestrion {
namespace {

// Shortest and longest frame time a capture could have.
constexpr double kShortestFrame = 0.0001, kLongestFrame = 10.0;
constexpr std::size_t kMaxChannels = 6;

bool Same(std::string_view a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

}  // namespace

BvhReader::BvhReader(std::string_view text, std::size_t maxFrames) : text_(text), maxFrames_(maxFrames) {}

bool BvhReader::Fail(std::string reason) {
    if (Failed()) return false;  // the first fault is the one to tell
    line_ = text_.LineNumber();
    reason_ = std::move(reason);
    return false;
}

bool BvhReader::Expect(const char* what) {
    std::string_view w;
    if (!text_.Word(&w)) return Fail(std::string("the file ends where '") + what + "' belongs");
    return Same(w, what) || Fail(Quoted(w) + " where '" + what + "' belongs");
}

bool BvhReader::ReadNumber(const char* what, double* out) {
    std::string_view w;
    if (!text_.Word(&w)) return Fail(std::string("the file ends where ") + what + " belongs");
    std::string why;
    return ParseNumber(w, out, &why) || Fail(why);
}

// A whole number from `least` to `most`.
bool BvhReader::ReadCount(const char* what, double least, double most, double* out) {
    std::string_view w;
    if (!text_.Word(&w)) return Fail(std::string("the file ends where ") + what + " belongs");
    std::string why;
    if (!ParseNumber(w, out, &why) || *out != std::floor(*out) || *out < least || *out > most) {
        char range[64];
        std::snprintf(range, sizeof range, " must be a whole number from %.0f to %.0f, not ", least, most);
        return Fail(what + std::string(range) + Quoted(w));
    }
    return true;
}

bool BvhReader::ReadHeader(BvhMotion* motion) {
    *motion = BvhMotion();
    m_ = motion;
    return Hierarchy() && MotionHeader();
}

bool BvhReader::Hierarchy() {
    if (!Expect("HIERARCHY")) return false;
    std::vector<int> open;  // joints whose braces are open; -1 for an end site
    std::vector<char> offsetRead, channelsRead;  // by joint
    std::string_view w;
    for (;;) {
        if (!text_.Word(&w)) return Fail("the file ends in the joint tree, before MOTION");
        const bool inEnd = !open.empty() && open.back() < 0;
        if (Same(w, "ROOT") || Same(w, "JOINT")) {
            const bool root = Same(w, "ROOT");
            if (root && !m_->joints.empty()) return Fail("a second ROOT: one skeleton per file");
            if (!root && (open.empty() || inEnd)) return Fail("JOINT outside a joint");
            if (m_->joints.size() == kMaxJoints) return Fail("more than 1024 joints");
            BvhJoint joint;
            joint.line = text_.LineNumber();
            joint.parent = root ? -1 : open.back();
            std::string_view name;
            if (!text_.Word(&name) || name == "{" || name == "}") return Fail("a joint without a name");
            joint.name = name;
            m_->joints.push_back(std::move(joint));
            offsetRead.push_back(0);
            channelsRead.push_back(0);
            if (!Expect("{")) return false;
            open.push_back(static_cast<int>(m_->joints.size()) - 1);
        } else if (Same(w, "End")) {
            if (open.empty() || inEnd) return Fail("End Site outside a joint");
            if (!Expect("Site") || !Expect("{")) return false;
            m_->joints[static_cast<std::size_t>(open.back())].endSites.push_back({0, 0, 0});
            open.push_back(-1);
        } else if (Same(w, "OFFSET")) {
            if (open.empty()) return Fail("OFFSET outside a joint");
            const std::size_t owner = static_cast<std::size_t>(inEnd ? open[open.size() - 2] : open.back());
            if (!inEnd && offsetRead[owner]++) return Fail("a second OFFSET for " + Quoted(m_->joints[owner].name));
            std::array<double, 3> offset;
            for (double& v : offset) {
                if (!ReadNumber("an offset", &v)) return false;
            }
            (inEnd ? m_->joints[owner].endSites.back() : m_->joints[owner].offset) = offset;
        } else if (Same(w, "CHANNELS")) {
            if (open.empty() || inEnd) return Fail("CHANNELS outside a joint");
            const std::size_t owner = static_cast<std::size_t>(open.back());
            // Its values would otherwise take two places on every line.
            if (channelsRead[owner]++) return Fail("a second CHANNELS for " + Quoted(m_->joints[owner].name));
            if (!Channels(m_->joints[owner])) return false;
        } else if (w == "}") {
            if (open.empty()) return Fail("a '}' that closes nothing");
            open.pop_back();
        } else if (Same(w, "MOTION")) {
            if (m_->joints.empty()) return Fail("MOTION before any ROOT");
            if (!open.empty()) return Fail("MOTION before every joint is closed with '}'");
            text_.EndLine();
            return true;
        } else {
            return Fail(Quoted(w) + " is not part of a joint tree");
        }
    }
}

bool BvhReader::Channels(BvhJoint& joint) {
    double n = 0;
    if (!ReadCount("CHANNELS", 0, double(kMaxChannels), &n)) return false;
    static const char* const kNames[] = {"Xposition", "Yposition", "Zposition", "Xrotation", "Yrotation", "Zrotation"};
    joint.firstValue = m_->valuesPerFrame;
    for (int i = 0; i < int(n); ++i) {
        std::string_view w;
        if (!text_.Word(&w)) return Fail("the file ends in a CHANNELS list");
        int kind = 0;
        while (kind < 6 && !Same(w, kNames[kind])) ++kind;
        if (kind == 6) return Fail(Quoted(w) + " is not a channel");
        joint.channels.push_back(static_cast<Channel>(kind));
    }
    m_->valuesPerFrame += joint.channels.size();
    return true;
}

bool BvhReader::MotionHeader() {
    double frames = 0;
    if (!Expect("Frames:") || !ReadCount("Frames:", 1, double(maxFrames_), &frames)) return false;
    framesLine_ = text_.LineNumber();
    if (m_->valuesPerFrame == 0) return Fail("no joint has a channel: nothing moves");
    m_->frames = static_cast<std::size_t>(frames);
    if (!Expect("Frame") || !Expect("Time:") || !ReadNumber("the frame time", &m_->frameSeconds)) return false;
    if (!(m_->frameSeconds >= kShortestFrame && m_->frameSeconds <= kLongestFrame)) {
        char why[96];
        std::snprintf(why, sizeof why, "a frame time of %g s; it must be from %g to %g s", m_->frameSeconds,
                      kShortestFrame, kLongestFrame);
        return Fail(why);
    }
    text_.EndLine();
    return true;
}

bool BvhReader::ReadFrame(double* values) {
    if (Failed()) return false;
    std::string_view line;
    if (!text_.Line(&line)) {
        if (read_ == m_->frames) return false;
        line_ = framesLine_;
        reason_ = "Frames: says " + std::to_string(m_->frames) + " but the file has " + std::to_string(read_) +
                  " frame lines";
        return false;
    }
    if (read_ == m_->frames) return Fail("more frame lines than Frames: says (" + std::to_string(read_) + ")");
    // Counted to the end, so that the message tells how many; kept only
    // as far as they belong.
    std::size_t count = 0;
    for (std::size_t i = 0; i < line.size();) {
        while (i < line.size() && TextScanner::IsBlank(line[i])) ++i;
        const std::size_t start = i;
        while (i < line.size() && !TextScanner::IsBlank(line[i])) ++i;
        if (i == start) break;
        std::string why;
        if (count < m_->valuesPerFrame && !ParseNumber(line.substr(start, i - start), &values[count], &why)) {
            return Fail(why);
        }
        ++count;
    }
    if (count != m_->valuesPerFrame) {
        return Fail(std::to_string(count) + " values on a frame line, expected " + std::to_string(m_->valuesPerFrame));
    }
    ++read_;
    return true;
}

}  // namespace kestrion
