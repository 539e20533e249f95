// What replayed files may hold: more than any real capture needs, and
// little enough that loading takes well under a second and a few tens of
// megabytes, inside GyroInit.
#pragma once

#include <cstddef>

namespace kestrion {

// All the files of one KESTRION_SIM_REPLAY list together.
constexpr std::size_t kMaxReplayBytes = std::size_t(16) << 20;
constexpr std::size_t kMaxReplayFrames = 100000;  // a CSV file's frames count once per suit
constexpr std::size_t kMaxJoints = 1024;          // in one BVH skeleton
// Every number a file holds, and the hips' distance from the origin in cm
// once scaled: a body, not an overflow.
constexpr double kMaxMagnitude = 1e6;

}  // namespace kestrion
