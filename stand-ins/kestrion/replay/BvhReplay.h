// A BVH file's motion on our skeleton. Each bone of ours points where the
// matching chain of the source's bones points, whatever joints the source
// has between: the hips' bone to the chest along the source's spine, the
// chest's to the neck along its upper spine, each limb bone along its
// counterpart; the turn about each comes from the source. The rest pose
// does not matter, positions are scaled by the skeletons' heights, and a
// file that stands along another axis than Y is stood up.
#pragma once

#include "kestrion/replay/Replay.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kestrion {

// The frames of the text, at most `maxFrames`; false with the line and the
// reason when it cannot be played.
bool ReplayBvh(std::string_view text, std::size_t maxFrames, double* frameSeconds, std::vector<ReplayFrame>* frames,
               std::size_t* line, std::string* reason);

}  // namespace kestrion
