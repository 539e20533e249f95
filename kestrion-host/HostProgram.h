// The program's three commands, on a loaded plug-in.
#pragma once

#include "kestrion-host/HostOptions.h"
#include "kestrion-host/PluginLibrary.h"
#include "kestrion-host/Screen.h"

#include <functional>
#include <vector>

namespace kxhost {

class SuitSession;

// "suit 2", "suits 0, 1 and 3"
std::string SuitList(const std::vector<int>& suits);
// As %g prints it.
std::string Number(double value);

class HostProgram {
public:
    // `live`: standard output is a terminal whose lines can be redrawn.
    HostProgram(const HostOptions& options, bool live);

    // Each returns the exit code, or throws Failure.
    int Info();
    int Stream();
    int Record();
    int View();  // in ViewCommand.cpp

private:
    using FrameSink = std::function<void(const std::vector<Frame>&)>;

    void LoadPlugin();
    // Connects and sets up the suits; false on Ctrl-C.
    bool StartSuits(SuitSession& session);
    // Reads `frames` frames (until Ctrl-C when negative) at the rate; false
    // when Ctrl-C ended it.
    bool ReadFrames(SuitSession& session, long frames, const FrameSink& sink,
                    const std::function<std::string(long)>& status);
    // For the open-ended commands: the frames --seconds asks for (-1: until
    // Ctrl-C), how long that is in words, and the live status line.
    long FramesAsked() const;
    std::string HowLong() const;
    std::function<std::string(long)> Ticker(const char* doing) const;

    const HostOptions options_;
    Screen screen_;  // before the plug-in: the channel's last messages come here
    PluginLibrary plugin_;
    std::string loadedPath_;
};

}  // namespace kxhost
