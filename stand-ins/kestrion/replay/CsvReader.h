// Reading our own CSV recordings back: the header the host program writes,
// then a row per suit per frame whose values are the suit's frame as it
// was delivered.
#pragma once

#include "kestrion/replay/Replay.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kestrion {

// One suit's frames in a recording.
struct CsvTake {
    int suit = 0;
    double frameSeconds = 0;  // from the rows' times
    std::vector<ReplayFrame> frames;
};

// The takes of the text, in the order their suits first appear, with at
// most `maxFrames` rows in all; false with the line and the reason when it
// is not a recording of ours.
bool ReadCsv(std::string_view text, std::size_t maxFrames, std::vector<CsvTake>* takes, std::size_t* line,
             std::string* reason);

}  // namespace kestrion
