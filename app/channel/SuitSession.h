// One channel of the plug-in with the suits a run uses: connected, set up,
// read, and reset again however the run ends. Every call into the channel
// is made on a thread of its own; one that does not return in time, as
// when a suit library's read hangs, ends the program at once with exit 1
// (128 and the signal's number when a signal came meanwhile), after the
// program's clean-up hook (OnAbandon): the channel cannot be reset then.
#pragma once

#include "app/channel/ChannelThread.h"
#include "app/channel/PluginLibrary.h"
#include "app/channel/SuitSettings.h"
#include "driver/Frame.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kxhost {

class SuitSession {
public:
    // A new channel; the driver stays idle until Connect.
    explicit SuitSession(const PluginLibrary& plugin);
    // Resets the channel (stopping its driver and the suit library), then
    // destroys it.
    ~SuitSession();
    SuitSession(const SuitSession&) = delete;
    SuitSession& operator=(const SuitSession&) = delete;

    // Starts the driver and connects the `wanted` suits, or every suit the
    // library finds when it is empty. Throws Failure when the library finds
    // no suit (kExitFailure) or a wanted one does not exist (kExitUsage).
    void Connect(const std::vector<int>& wanted);
    // Modes first, then null and north, each for every connected suit.
    void Apply(const SuitSettings& settings);
    // The same for one connected suit, at any time.
    void ApplyTo(int suit, const SuitSettings& settings);
    // Waits until every suit has delivered a frame, and after Apply one read
    // since the settings; false on Ctrl-C. Throws Failure for a suit that
    // sends nothing within `timeoutSeconds`.
    bool WaitForFrames(double timeoutSeconds);
    // The newest frame of each connected suit, in the order of Suits().
    void Read(std::vector<Frame>* frames);

    const std::vector<int>& Suits() const { return suits_; }

    // Run just before the program ends at once because a call into the
    // channel hangs: whatever must not outlive the program (unfinished
    // files) is cleaned up there. One hook for the whole program.
    static void OnAbandon(void (*cleanUp)());

private:
    // Runs `call` on the channel's thread; `what` names the channel's
    // operation for the message should it not return in time.
    void OnChannel(const char* what, double bound, const std::function<void()>& call);
    // `base` and the time the driver's pass over the suits may take.
    double PassBound(double base) const;
    void GetData(std::size_t index, Frame* frame);

    ChannelThread thread_;
    std::unique_ptr<SuitChannel> channel_;
    std::atomic<int> readingSuit_{-1};  // whose GetData runs now
    std::vector<int> suits_;
    // The frames as they were when the settings were made, if any were.
    std::vector<Frame> beforeSettings_;
};

}  // namespace kxhost
