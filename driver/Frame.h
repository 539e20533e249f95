// One sample of one suit, 240 bytes, filled whole by the suit library. The
// plug-in never looks inside; it only copies the frame whole.
#pragma once

#include "driver/Joint.h"
#include "geometry/Vector.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

struct Frame {
    std::uint32_t leadWord;
    Vector position;
    // Indexed by joint::Id.
    Vector rotations[kJointCount];
    std::uint32_t tailWords[2];
};

static_assert(sizeof(Frame) == 240, "the suit library fills 240 bytes");
static_assert(offsetof(Frame, leadWord) == 0, "fixed layout");
static_assert(offsetof(Frame, position) == 4, "fixed layout");
static_assert(offsetof(Frame, rotations) == 16, "fixed layout");
static_assert(offsetof(Frame, tailWords) == 232, "fixed layout");
static_assert(std::is_trivially_copyable<Frame>::value, "copied byte for byte");
