#include "app/channel/ChannelThread.h"

#include "app/platform/Interrupt.h"

#include <chrono>

namespace kxhost {
namespace {

using Clock = std::chrono::steady_clock;

// How long a call may go on once the user asked to end.
constexpr auto kStopGrace = std::chrono::milliseconds(500);

long long NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

}  // namespace

ChannelThread::ChannelThread() : thread_([this] { Loop(); }) {}

ChannelThread::~ChannelThread() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        quit_ = true;
    }
    changed_.notify_all();
    if (lost_) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

void ChannelThread::Beat() { beatNs_.store(NowNs()); }

ChannelThread::Outcome ChannelThread::Run(const std::function<void()>& call, double bound) {
    const bool stoppedBefore = kx::InterruptRequested();
    const auto boundNs = static_cast<long long>(bound * 1e9);
    Beat();
    std::unique_lock<std::mutex> guard(lock_);
    call_ = &call;
    done_ = false;
    error_ = nullptr;
    changed_.notify_all();
    Clock::time_point stopDeadline = Clock::time_point::max();
    // Sliced: a signal cannot wake a waiting thread portably.
    while (!changed_.wait_for(guard, std::chrono::milliseconds(10), [this] { return done_; })) {
        if (stopDeadline == Clock::time_point::max() && !stoppedBefore && kx::InterruptRequested()) {
            stopDeadline = Clock::now() + kStopGrace;
        }
        if (Clock::now() >= stopDeadline || NowNs() - beatNs_.load() > boundNs) {
            lost_ = true;
            // The user asked first: the run ends as asked.
            return stopDeadline != Clock::time_point::max() ? Outcome::Stopped : Outcome::Late;
        }
    }
    call_ = nullptr;
    if (error_) std::rethrow_exception(error_);
    return Outcome::Done;
}

void ChannelThread::Loop() {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        changed_.wait(guard, [this] { return quit_ || (call_ != nullptr && !done_); });
        if (quit_) return;
        const std::function<void()>* call = call_;
        guard.unlock();
        std::exception_ptr error;
        try {
            (*call)();
        } catch (...) {
            error = std::current_exception();
        }
        guard.lock();
        error_ = error;
        done_ = true;
        changed_.notify_all();
    }
}

}  // namespace kxhost
