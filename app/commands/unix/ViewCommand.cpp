// `kestrion-host view`: the suits in a browser. The program's thread reads
// the frames, hands them to the web server and, between two frames, does
// what the page asked for: it alone calls the channel.
#include "app/HostProgram.h"
#include "app/base/Failure.h"
#include "app/channel/SuitSession.h"
#include "app/osc/OscSender.h"
#include "app/platform/Interrupt.h"
#include "app/view/ViewControls.h"
#include "app/view/ViewServer.h"

namespace kxhost {

extern const char* const kNoView = nullptr;

int HostProgram::View() {
    LoadPlugin();
    ViewServer::Options web;
    web.listen = options_.listen;
    web.port = options_.port;
    web.rate = options_.rate;
    ViewServer server(web);
    server.Bind();  // before the suits: a port in use fails at once
    SuitSession session(plugin_);
    if (!StartSuits(session)) return kExitOk;
    OscSender osc(options_.osc, session.Suits(), options_.rate);
    server.Serve(session.Suits());

    std::string host = options_.listen == "0.0.0.0" ? "127.0.0.1" : options_.listen == "::" ? "::1" : options_.listen;
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    if (server.Open()) {
        screen_.Note("kestrion-host: warning: the view listens on " + options_.listen +
                     ": whoever reaches this machine can watch the suits and control them");
    }
    screen_.Print("Viewing " + SuitList(session.Suits()) + " at " + Number(options_.rate) + " Hz on http://" + host +
                  ":" + std::to_string(server.Port()) + "/ " + HowLong());
    if (!osc.Description().empty()) screen_.Print(osc.Description());

    ViewControls controls(session, screen_, options_.rate);
    const bool complete = ReadFrames(
        session, FramesAsked(),
        [&](const std::vector<Frame>& read) {
            server.Publish(controls.Frame(read));
            NoteOscFailure(osc.Send(read));
            server.Drain([&controls](const ViewRequest& request) { return controls.Handle(request); });
        },
        Ticker("viewing"));
    controls.Abandon();
    server.Stop();
    screen_.Print(complete ? std::string("View ended") : std::string("View stopped by ") + kx::InterruptName());
    return kExitOk;
}

}  // namespace kxhost
