// `kestrion-host stream`: the suits' frames live, on the terminal and over
// OSC, until Ctrl-C or --seconds.
#include "app/HostProgram.h"
#include "app/base/Failure.h"
#include "app/channel/SuitSession.h"
#include "app/osc/OscSender.h"
#include "app/platform/Interrupt.h"

namespace kxhost {

int HostProgram::Stream() {
    LoadPlugin();
    SuitSession session(plugin_);
    if (!StartSuits(session)) return kExitOk;
    OscSender osc(options_.osc, session.Suits(), options_.rate);
    screen_.Print("Streaming " + SuitList(session.Suits()) + " at " + Number(options_.rate) + " Hz " + HowLong());
    if (!osc.Description().empty()) screen_.Print(osc.Description());
    const bool complete = ReadFrames(
        session, FramesAsked(), [this, &osc](const std::vector<Frame>& read) { NoteOscFailure(osc.Send(read)); },
        Ticker("streaming"));
    screen_.Print(complete ? std::string("Stream ended") : std::string("Stream stopped by ") + kx::InterruptName());
    return kExitOk;
}

}  // namespace kxhost
