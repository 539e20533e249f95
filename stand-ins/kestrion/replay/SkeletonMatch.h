// Our eighteen joints found in another skeleton: by name, in our naming
// style or one of two others, and the chest by where the body branches.
#pragma once

#include "driver/Joint.h"
#include "kestrion/replay/BvhReader.h"

#include <array>
#include <string>

namespace kestrion {

// The joint of `m` for each joint of ours, -1 for an optional one it lacks
// (chest, collars, neck). False with `reason` when the skeleton is not one
// we know.
bool MatchSkeleton(const BvhMotion& m, std::array<int, kJointCount>* source, std::string* reason);

}  // namespace kestrion
