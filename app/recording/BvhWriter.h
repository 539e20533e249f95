// One suit's recording as BVH: the frame's eighteen joints as a skeleton
// (Hips the root with position channels), rotation channels in the frame's
// order Z, X, Y, angles in degrees, positions in centimetres.
#pragma once

#include "driver/Frame.h"

#include <cstdio>

namespace kxhost {

class BvhWriter {
public:
    // `file` is open for writing, binary, and positioned at its start.
    BvhWriter(std::FILE* file, double frameTimeSeconds);

    // The hierarchy and the motion header; false on a write error.
    bool Begin();
    // One frame line of 57 values.
    bool Add(const Frame& frame);
    // Fills in the number of frames, which Begin could not know.
    bool Finish();


private:
    std::FILE* file_;
    double frameTime_;
    long frames_ = 0;
    long countOffset_ = -1;
};

}  // namespace kxhost
