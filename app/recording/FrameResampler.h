// A recording's frames from the suits' samples. The suits deliver a new
// sample about every 25 ms, and reading them at the recording's rate would
// hold a sample over several frames (or skip one). Instead each sample gets
// the time it was first seen, and each frame of the recording is the
// motion at its own time (frame / rate after the first read): positions
// blended linearly, and each joint's rotation by slerp, between the two
// samples around that time. So a frame is ready only once the sample after
// it is in: one sample's delay. A suit that sends nothing new for a second
// counts as standing still: its last sample holds.
#pragma once

#include "driver/Frame.h"

#include <deque>
#include <vector>

namespace kxhost {

class FrameResampler {
public:
    // `frames`: how many the recording has at most; -1 for no end.
    explicit FrameResampler(double rate, long frames = -1) : rate_(rate), limit_(frames) {}

    // The suits' newest frames, read at `seconds` on the steady clock. A
    // frame that differs from the suit's last is a new sample.
    void Add(const std::vector<Frame>& frames, double seconds = Now());
    // The recording's next frame, one per suit, once it is ready.
    bool Next(std::vector<Frame>* frames);
    // Whether every frame of a recording with an end has been taken.
    bool Done() const { return limit_ >= 0 && next_ >= limit_; }

    static double Now();

private:
    struct Sample {
        double seconds;
        Frame frame;
    };

    const double rate_;
    const long limit_;
    long next_ = 0;
    double start_ = 0, latest_ = 0;
    // By suit: the sample at or before the next frame's time, and those
    // after it.
    std::vector<std::deque<Sample>> samples_;
};

}  // namespace kxhost
