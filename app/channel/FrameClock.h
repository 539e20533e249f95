// The beat of a run: frame k is due k / rate seconds after the start.
// Waiting gives way to Ctrl-C within a few milliseconds.
#pragma once

#include <chrono>

namespace kxhost {

class FrameClock {
public:
    explicit FrameClock(double rate);

    // Waits until frame `index` is due; false when Ctrl-C came first. A late
    // frame is due at once: frames are never skipped.
    bool WaitFor(long index);
    // How long ago frame `index` was due: negative while it is not.
    double Lateness(long index) const;
    // Waits up to `seconds`; false when Ctrl-C came first.
    static bool Pause(double seconds);

private:
    using Clock = std::chrono::steady_clock;
    static bool WaitUntil(Clock::time_point due);

    const double rate_;
    const Clock::time_point start_;
};

}  // namespace kxhost
