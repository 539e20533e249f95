// A recording as CSV: a header of named columns, then one row per suit per
// frame: frame number, time, suit, position (cm) and the eighteen joints'
// angles about X, Y and Z (degrees).
#pragma once

#include "driver/Frame.h"

#include <cstdio>

namespace kxhost {

class CsvWriter {
public:
    explicit CsvWriter(std::FILE* file) : file_(file) {}

    // The header line; false on a write error.
    bool Begin();
    bool Add(long frameNumber, double seconds, int suit, const Frame& frame);

private:
    std::FILE* file_;
};

}  // namespace kxhost
