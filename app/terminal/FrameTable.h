// The compact view of the suits while they are read: position, heading and
// a few joints per suit. On a terminal it is a small table redrawn in place
// about ten times a second; elsewhere one plain line per suit each second.
#pragma once

#include "app/terminal/Screen.h"
#include "driver/Frame.h"

#include <string>
#include <vector>

namespace kxhost {

class FrameTable {
public:
    FrameTable(Screen& screen, std::vector<int> suits);

    // The frames read at `seconds` into the run, one per suit; `status` is
    // the table's top line on a terminal.
    void Update(double seconds, const std::vector<Frame>& frames, const std::string& status);
    // Draws the last frames once more and leaves them on screen.
    void Finish();

private:
    void Draw();

    Screen& screen_;
    const std::vector<int> suits_;
    double seconds_ = 0;
    std::vector<Frame> frames_;
    std::string status_;
    double nextDraw_ = 0;
    bool shown_ = true;  // the last frames are on screen
};

}  // namespace kxhost
