#include "app/view/ViewJson.h"

#include "app/view/ViewFrame.h"
#include "driver/Skeleton.h"

#include <cmath>
#include <cstdio>

namespace kxhost {
namespace {

// JSON has no NaN: a suit library that sends one must not break the page.
void Append(std::string& out, float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", std::isfinite(value) ? static_cast<double>(value) : 0.0);
    out += text;
}

void Append(std::string& out, const Vector& v) {
    Append(out, v.x);
    out += ',';
    Append(out, v.y);
    out += ',';
    Append(out, v.z);
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace

std::string HelloEvent(const std::vector<int>& suits, double rate) {
    char number[32];
    std::snprintf(number, sizeof number, "%g", rate);
    std::string out = "retry: 1000\nevent: hello\ndata: {\"rate\":" + std::string(number) + ",\"suits\":[";
    for (std::size_t i = 0; i < suits.size(); ++i) out += (i > 0 ? "," : "") + std::to_string(suits[i]);
    out += "],\"joints\":[";
    char text[256];
    for (int j = 0; j < kJointCount; ++j) {
        const SkeletonJoint& joint = Skeleton()[j];
        std::snprintf(text, sizeof text, "%s{\"name\":\"%s\",\"parent\":%d,\"offset\":[%g,%g,%g],\"end\":", j ? "," : "",
                      joint.name, joint.parent, joint.offset[0], joint.offset[1], joint.offset[2]);
        out += text;
        if (joint.leaf) {
            std::snprintf(text, sizeof text, "[%g,%g,%g]}", joint.endSite[0], joint.endSite[1], joint.endSite[2]);
            out += text;
        } else {
            out += "null}";
        }
    }
    return out + "]}\n\n";
}

std::string RecordingJson(const std::vector<std::string>& files, long frames) {
    std::string list;
    for (const std::string& name : files) list += (list.empty() ? "" : ",") + Quoted(name);
    return "{\"files\":[" + list + "],\"frames\":" + std::to_string(frames) + "}";
}

std::string RecordingErrorJson(const std::string& message) { return "{\"error\":" + Quoted(message) + "}"; }

const std::string& ViewFrame::Event() const {
    std::call_once(formatted_, [this] {
        std::string& out = event_;
        out.reserve(64 + suits.size() * 480);
        char head[96];
        std::snprintf(head, sizeof head, "event: frame\ndata: {\"k\":%ld,\"t\":%.3f,\"rec\":", index, seconds);
        out += head;
        out += recording.empty() ? "null" : recording;
        out += ",\"suits\":[";
        for (std::size_t i = 0; i < suits.size(); ++i) {
            char suit[96];
            std::snprintf(suit, sizeof suit, "%s{\"i\":%d,\"n\":%ld,\"age\":%.1f,\"p\":[", i > 0 ? "," : "", suits[i],
                          samples[i], agesMs[i]);
            out += suit;
            Append(out, frames[i].position);
            out += "],\"r\":[";
            for (int j = 0; j < kJointCount; ++j) {
                if (j > 0) out += ',';
                Append(out, frames[i].rotations[j]);
            }
            out += "]}";
        }
        out += "]}\n\n";
    });
    return event_;
}

}  // namespace kxhost
