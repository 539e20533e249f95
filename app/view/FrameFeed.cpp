#include "app/view/FrameFeed.h"

#include <algorithm>

namespace kxhost {

void FrameFeed::Publish(std::shared_ptr<const ViewFrame> frame) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        newest_ = frame->index;
        ring_[static_cast<std::size_t>(newest_ % kKept)].swap(frame);
    }
    // The frame it replaced is freed here, outside the lock.
}

std::vector<std::shared_ptr<const ViewFrame>> FrameFeed::Next(long seen) {
    std::vector<std::shared_ptr<const ViewFrame>> frames;
    std::lock_guard<std::mutex> guard(lock_);
    if (closed_ || newest_ <= seen) return frames;
    const long first = seen < 0 ? newest_ : std::max(seen + 1, newest_ - kKept + 1);
    for (long index = first; index <= newest_; ++index) frames.push_back(ring_[static_cast<std::size_t>(index % kKept)]);
    return frames;
}

long FrameFeed::Newest() {
    std::lock_guard<std::mutex> guard(lock_);
    return newest_;
}

void FrameFeed::Close() {
    std::lock_guard<std::mutex> guard(lock_);
    closed_ = true;
}

bool FrameFeed::Closed() {
    std::lock_guard<std::mutex> guard(lock_);
    return closed_;
}

}  // namespace kxhost
