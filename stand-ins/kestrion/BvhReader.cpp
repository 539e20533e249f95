#include "kestrion/BvhReader.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

namespace kestrion {
namespace {

// Shortest and longest frame time a capture could have.
constexpr double kShortestFrame = 0.0001, kLongestFrame = 10.0;
constexpr std::size_t kMaxChannels = 6;

bool Same(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

bool Number(const std::string& token, double* out) {
    const char* begin = token.data() + (!token.empty() && token[0] == '+' ? 1 : 0);
    const char* end = token.data() + token.size();
    const auto result = std::from_chars(begin, end, *out);
    return result.ec == std::errc() && result.ptr == end && std::isfinite(*out);
}

// The file's words, line by line; braces are words even when stuck to
// another.
class Words {
public:
    explicit Words(const std::string& text) : text_(text) {}

    // The next word, or false at the end of the text.
    bool Next(std::string* word) {
        while (at_ < text_.size() && IsSpace(text_[at_])) {
            if (text_[at_] == '\n') ++line_;
            ++at_;
        }
        if (at_ >= text_.size()) return false;
        const std::size_t start = at_++;
        if (text_[start] != '{' && text_[start] != '}') {
            while (at_ < text_.size() && !IsSpace(text_[at_]) && text_[at_] != '{' && text_[at_] != '}') ++at_;
        }
        *word = text_.substr(start, at_ - start);
        wordLine_ = line_;
        return true;
    }

    // The words of the next line that has any; false at the end of the text.
    bool NextLine(std::vector<std::string>* words) {
        words->clear();
        while (at_ < text_.size()) {
            std::size_t end = text_.find('\n', at_);
            if (end == std::string::npos) end = text_.size();
            wordLine_ = line_;
            for (std::size_t i = at_; i < end;) {
                while (i < end && IsSpace(text_[i])) ++i;
                const std::size_t start = i;
                while (i < end && !IsSpace(text_[i])) ++i;
                if (i > start) words->push_back(text_.substr(start, i - start));
            }
            at_ = end + 1;
            ++line_;
            if (!words->empty()) return true;
        }
        return false;
    }

    // Skips what is left of the current line.
    void EndLine() {
        while (at_ < text_.size() && text_[at_] != '\n') {
            if (!IsSpace(text_[at_])) return;  // left for the next read, which refuses it
            ++at_;
        }
        if (at_ < text_.size()) {
            ++at_;
            ++line_;
        }
    }

    int Line() const { return wordLine_; }

private:
    static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

    const std::string& text_;
    std::size_t at_ = 0;
    int line_ = 1;      // of the text at at_
    int wordLine_ = 1;  // of the last word or line read
};

class Parser {
public:
    Parser(const std::string& text, BvhMotion* m) : words_(text), m_(*m) {}

    bool Run() { return Hierarchy() && MotionHeader() && Frames(); }

    int line = 0;
    std::string reason;

private:
    bool Fail(std::string why) {
        line = words_.Line();
        reason = std::move(why);
        return false;
    }

    bool Expect(const char* what) {
        std::string w;
        if (!words_.Next(&w)) return Fail(std::string("the file ends where '") + what + "' belongs");
        return Same(w, what) || Fail(std::string("'") + w + "' where '" + what + "' belongs");
    }

    bool ReadNumber(const char* what, double* out) {
        std::string w;
        if (!words_.Next(&w)) return Fail(std::string("the file ends where ") + what + " belongs");
        return Number(w, out) || Fail("'" + w + "' is not a number");
    }

    bool Hierarchy() {
        if (!Expect("HIERARCHY")) return false;
        std::vector<int> open;  // joints whose braces are open; -1 for an end site
        std::string w;
        for (;;) {
            if (!words_.Next(&w)) return Fail("the file ends in the joint tree, before MOTION");
            const bool inEnd = !open.empty() && open.back() < 0;
            if (Same(w, "ROOT") || Same(w, "JOINT")) {
                const bool root = Same(w, "ROOT");
                if (root && !m_.joints.empty()) return Fail("a second ROOT: one skeleton per file");
                if (!root && (open.empty() || inEnd)) return Fail("JOINT outside a joint");
                BvhJoint joint;
                joint.line = words_.Line();
                joint.parent = root ? -1 : open.back();
                if (!words_.Next(&joint.name) || joint.name == "{" || joint.name == "}") {
                    return Fail("a joint without a name");
                }
                m_.joints.push_back(joint);
                if (!Expect("{")) return false;
                open.push_back(static_cast<int>(m_.joints.size()) - 1);
            } else if (Same(w, "End")) {
                if (open.empty() || inEnd) return Fail("End Site outside a joint");
                if (!Expect("Site") || !Expect("{")) return false;
                m_.joints[static_cast<std::size_t>(open.back())].endSites.push_back({0, 0, 0});
                open.push_back(-1);
            } else if (Same(w, "OFFSET")) {
                if (open.empty()) return Fail("OFFSET outside a joint");
                std::array<double, 3> offset;
                for (double& v : offset) {
                    if (!ReadNumber("an offset", &v)) return false;
                }
                BvhJoint& owner = m_.joints[static_cast<std::size_t>(inEnd ? open[open.size() - 2] : open.back())];
                (inEnd ? owner.endSites.back() : owner.offset) = offset;
            } else if (Same(w, "CHANNELS")) {
                if (open.empty() || inEnd) return Fail("CHANNELS outside a joint");
                if (!Channels(m_.joints[static_cast<std::size_t>(open.back())])) return false;
            } else if (w == "}") {
                if (open.empty()) return Fail("a '}' that closes nothing");
                open.pop_back();
            } else if (Same(w, "MOTION")) {
                if (m_.joints.empty()) return Fail("MOTION before any ROOT");
                if (!open.empty()) return Fail("MOTION before every joint is closed with '}'");
                words_.EndLine();
                return true;
            } else {
                return Fail("'" + w + "' is not part of a joint tree");
            }
        }
    }

    bool Channels(BvhJoint& joint) {
        double n = 0;
        if (!ReadNumber("a channel count", &n)) return false;
        if (n != std::floor(n) || n < 0 || n > double(kMaxChannels)) {
            return Fail("CHANNELS must be a whole number from 0 to 6");
        }
        static const char* const kNames[] = {"Xposition", "Yposition", "Zposition",
                                             "Xrotation", "Yrotation", "Zrotation"};
        joint.channels.clear();
        joint.firstValue = static_cast<int>(m_.valuesPerFrame);
        for (int i = 0; i < int(n); ++i) {
            std::string w;
            if (!words_.Next(&w)) return Fail("the file ends in a CHANNELS list");
            int kind = 0;
            while (kind < 6 && !Same(w, kNames[kind])) ++kind;
            if (kind == 6) return Fail("'" + w + "' is not a channel");
            joint.channels.push_back(static_cast<Channel>(kind));
        }
        m_.valuesPerFrame += joint.channels.size();
        return true;
    }

    bool MotionHeader() {
        double frames = 0;
        if (!Expect("Frames:") || !ReadNumber("the number of frames", &frames)) return false;
        framesLine_ = words_.Line();
        if (frames != std::floor(frames) || frames < 0) return Fail("Frames: must be a whole number");
        if (frames == 0) return Fail("no frames");
        if (m_.valuesPerFrame == 0) return Fail("no joint has a channel: nothing moves");
        m_.frames = static_cast<std::size_t>(frames);
        if (!Expect("Frame") || !Expect("Time:") || !ReadNumber("the frame time", &m_.frameSeconds)) return false;
        if (!(m_.frameSeconds >= kShortestFrame && m_.frameSeconds <= kLongestFrame)) {
            char why[96];
            std::snprintf(why, sizeof why, "a frame time of %g s; it must be from %g to %g s", m_.frameSeconds,
                          kShortestFrame, kLongestFrame);
            return Fail(why);
        }
        words_.EndLine();
        return true;
    }

    bool Frames() {
        std::vector<std::string> words;
        std::size_t read = 0;
        // The count a file declares may be anything; its lines are what is real.
        m_.values.clear();
        while (words_.NextLine(&words)) {
            if (read == m_.frames) return Fail("more frame lines than Frames: says (" + std::to_string(read) + ")");
            if (words.size() != m_.valuesPerFrame) {
                return Fail(std::to_string(words.size()) + " values on a frame line, expected " +
                            std::to_string(m_.valuesPerFrame));
            }
            for (const std::string& w : words) {
                double v = 0;
                if (!Number(w, &v)) return Fail("'" + w + "' is not a number");
                m_.values.push_back(v);
            }
            ++read;
        }
        if (read < m_.frames) {
            const std::string why = "Frames: says " + std::to_string(m_.frames) + " but the file has " +
                                    std::to_string(read) + " frame lines";
            line = framesLine_;
            reason = why;
            return false;
        }
        return true;
    }

    Words words_;
    BvhMotion& m_;
    int framesLine_ = 0;
};

}  // namespace

bool ReadBvh(const std::string& text, BvhMotion* motion, int* line, std::string* reason) {
    *motion = BvhMotion();
    Parser parser(text, motion);
    if (parser.Run()) return true;
    *line = parser.line;
    *reason = parser.reason;
    return false;
}

}  // namespace kestrion
