// The newest frames, from the program's thread, which alone calls the
// channel, to the web server's thread. Neither side ever waits for the
// other's work: the lock guards only pointer swaps and flags.
#pragma once

#include "app/view/ViewFrame.h"

#include <memory>
#include <mutex>
#include <vector>

namespace kxhost {

// The last frames, in a ring of fixed size: a sender held up for a moment
// catches up, one that falls further behind skips the frames it missed, so
// a slow or stalled browser costs nothing but its own frames.
class FrameFeed {
public:
    static constexpr long kKept = 64;

    // Frames come with consecutive indices from 0.
    void Publish(std::shared_ptr<const ViewFrame> frame);
    // The frames above `seen` that are still kept, oldest first; only the
    // newest when `seen` is negative. Empty once closed.
    std::vector<std::shared_ptr<const ViewFrame>> Next(long seen);
    // The index of the newest frame; -1 before the first.
    long Newest();
    void Close();
    bool Closed();

private:
    std::mutex lock_;
    std::vector<std::shared_ptr<const ViewFrame>> ring_ = std::vector<std::shared_ptr<const ViewFrame>>(kKept);
    long newest_ = -1;
    bool closed_ = false;
};

}  // namespace kxhost
