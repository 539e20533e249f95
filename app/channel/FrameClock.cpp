#include "app/channel/FrameClock.h"

#include "app/platform/Interrupt.h"

#include <algorithm>
#include <thread>

namespace kxhost {

FrameClock::FrameClock(double rate) : rate_(rate), start_(Clock::now()) {}

bool FrameClock::WaitFor(long index) {
    const auto offset = std::chrono::duration<double>(static_cast<double>(index) / rate_);
    return WaitUntil(start_ + std::chrono::duration_cast<Clock::duration>(offset));
}

double FrameClock::Lateness(long index) const {
    return std::chrono::duration<double>(Clock::now() - start_).count() - static_cast<double>(index) / rate_;
}

bool FrameClock::Pause(double seconds) {
    const auto span = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    return WaitUntil(Clock::now() + span);
}

bool FrameClock::WaitUntil(Clock::time_point due) {
    // A signal cannot wake a sleeping thread portably: sleep in short slices.
    constexpr auto kSlice = std::chrono::milliseconds(10);
    for (;;) {
        if (kx::InterruptRequested()) return false;
        const auto now = Clock::now();
        if (now >= due) return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(due - now, kSlice));
    }
}

}  // namespace kxhost
