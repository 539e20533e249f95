// `kestrion-host record`: the suits to a file, all of it or nothing.
#include "app/HostProgram.h"
#include "app/base/Failure.h"
#include "app/channel/FrameClock.h"
#include "app/channel/SuitSession.h"
#include "app/osc/OscSender.h"
#include "app/platform/Interrupt.h"
#include "app/recording/FrameResampler.h"
#include "app/recording/Recording.h"
#include "app/terminal/ProgressBar.h"

#include <algorithm>
#include <cmath>

namespace kxhost {

int HostProgram::Record() {
    // Refuse before the suits start, where the names are known by now.
    Recording::RefuseExisting(Recording::FileNames(options_.file, options_.suits), options_.force);
    LoadPlugin();
    SuitSession session(plugin_);
    auto interrupted = [] {
        return Failure(kx::InterruptExitCode(),
                       std::string("recording stopped by ") + kx::InterruptName() + "; no file written");
    };
    if (!StartSuits(session)) throw interrupted();
    const double rate = options_.rate, seconds = options_.seconds;
    const long frames = std::max(1L, std::lround(seconds * rate));
    OscSender osc(options_.osc, session.Suits(), rate);
    Recording recording(options_.file, session.Suits(), rate, options_.force);
    recording.Open();
    screen_.Print("Recording " + SuitList(session.Suits()) + " at " + Number(rate) + " Hz for " +
                  Number(frames / rate) + " s to " + Joined(recording.Names()));
    if (!osc.Description().empty()) screen_.Print(osc.Description());
    const ProgressBar bar(frames / rate, 30);
    FrameResampler resampler(rate, frames);
    std::vector<Frame> resampled;
    auto record = [&](const std::vector<Frame>& read) {
        resampler.Add(read);
        while (resampler.Next(&resampled)) recording.Add(resampled);
    };
    bool complete = ReadFrames(
        session, frames, [this, &record, &osc](const std::vector<Frame>& read) {
            record(read);
            NoteOscFailure(osc.Send(read));
        },
        [&bar, rate](long done) { return "recording " + bar.Text(done / rate); });
    // The last frames wait for the samples after them, which come every
    // 25 ms or so, whatever the rate.
    std::vector<Frame> read;
    while (complete && !resampler.Done() && (complete = FrameClock::Pause(std::min(1 / rate, 0.01)))) {
        session.Read(&read);
        record(read);
    }
    if (!complete) throw interrupted();
    recording.Commit();
    for (const std::string& name : recording.Names()) screen_.Print(recording.Wrote(name));
    return kExitOk;
}

}  // namespace kxhost
