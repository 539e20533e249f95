// Deterministic hand-offs between test threads: a gate that one thread opens
// and others wait for, with a generous bound so a broken build fails instead
// of hanging.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kxtest {

class Gate {
public:
    void Open() {
        std::lock_guard<std::mutex> guard(lock_);
        open_ = true;
        changed_.notify_all();
    }

    // True when the gate opened within the bound.
    bool Wait(std::chrono::milliseconds bound = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, bound, [this] { return open_; });
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool open_ = false;
};

// Polls `condition` until it holds or `bound` passes; for effects that the
// system makes visible asynchronously (a terminated thread leaving the
// process on Windows).
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds bound = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace kxtest
