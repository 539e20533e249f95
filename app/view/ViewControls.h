// The page's requests, carried out on the program's thread between two
// frames, and what the page is told about each frame besides the suits'
// poses: how many samples each suit sent, how old its newest is, and the
// recording made from the page.
#pragma once

#include "app/channel/SuitSession.h"
#include "app/recording/FrameResampler.h"
#include "app/recording/Recording.h"
#include "app/terminal/Screen.h"
#include "app/view/RequestQueue.h"
#include "app/view/ViewFrame.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace kxhost {

class ViewControls {
public:
    ViewControls(SuitSession& session, Screen& screen, double rate)
        : session_(session), screen_(screen), rate_(rate) {}

    // The page's frame for one read of the suits; adds it to the recording
    // under way.
    std::shared_ptr<const ViewFrame> Frame(const std::vector<::Frame>& frames);
    ViewAnswer Handle(const ViewRequest& request);
    // The view is ending: a recording still open is not written.
    void Abandon();

private:
    using Clock = std::chrono::steady_clock;

    ViewAnswer StartRecording(const std::string& file);
    ViewAnswer StopRecording();
    void Record(const std::vector<::Frame>& frames);

    SuitSession& session_;
    Screen& screen_;
    const double rate_;
    long index_ = 0;
    std::vector<::Frame> previous_;
    std::vector<long> samples_;
    std::vector<Clock::time_point> changed_;
    std::unique_ptr<Recording> recording_;
    std::unique_ptr<FrameResampler> resampler_;
    std::string recordingJson_;
};

}  // namespace kxhost
