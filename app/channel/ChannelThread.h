// The one thread that makes a channel's calls. A call may wait for good on
// a lock that a hung suit library holds; the program waits for it only so
// long, and hears Ctrl-C meanwhile.
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace kxhost {

class ChannelThread {
public:
    ChannelThread();
    // Ends the thread, unless a call is stuck on it: that one is left.
    ~ChannelThread();
    ChannelThread(const ChannelThread&) = delete;
    ChannelThread& operator=(const ChannelThread&) = delete;

    enum class Outcome {
        Done,     // the call returned (an exception it threw is thrown here)
        Late,     // no sign of progress for `bound` seconds
        Stopped,  // a request to end came meanwhile, and no return in time
    };
    // Runs `call` on the thread and waits for it. Anything but Done leaves
    // the call running, and the thread lost for good.
    Outcome Run(const std::function<void()>& call, double bound);
    // A sign of progress, from within a long call: its bound starts again.
    void Beat();

private:
    void Loop();

    std::mutex lock_;
    std::condition_variable changed_;
    const std::function<void()>* call_ = nullptr;
    bool done_ = false;
    bool quit_ = false;
    bool lost_ = false;
    std::exception_ptr error_;
    std::atomic<long long> beatNs_{0};
    std::thread thread_;  // last: starts once the rest is ready
};

}  // namespace kxhost
