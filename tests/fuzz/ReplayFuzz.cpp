// The replay readers on any bytes, read both as a BVH file and as one of
// our CSV recordings: each ends in frames whose every value is finite, or
// in a refusal whose message is short and printable. Anything else aborts,
// which the fuzzer and the corpus run report.
#include "kestrion/replay/Replay.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool Finite(const Frame& f) {
    const float* v = &f.position.x;
    for (int k = 0; k < 3 + 3 * kJointCount; ++k) {
        if (!std::isfinite(v[k])) return false;
    }
    return true;
}

bool Printable(const std::string& message) {
    for (char c : message) {
        if (c < 0x20 || c > 0x7e) return false;
    }
    return message.size() < 400;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const char* name : {"fuzz.bvh", "fuzz.csv"}) {
        kestrion::ReplayBudget budget;
        kestrion::Replays replays;
        std::string error;
        if (!kestrion::ReplaysFromText(text, name, &budget, &replays, &error)) {
            if (!Printable(error)) std::abort();
            continue;
        }
        for (const auto& replay : replays) {
            for (std::size_t k = 0; k < replay->Frames(); ++k) {
                Frame f{};
                replay->Pose((double(k) + 0.5) * replay->FrameSeconds(), kestrion::MotionSettings(), &f);
                if (!Finite(f)) std::abort();
            }
        }
    }
    return 0;
}
