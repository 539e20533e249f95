// The program's commands on a loaded plug-in, one file each in commands/,
// and what they share: loading the plug-in, starting the suits, reading
// frames at the rate.
#pragma once

#include "app/HostOptions.h"
#include "app/base/Text.h"
#include "app/channel/PluginLibrary.h"
#include "app/terminal/Screen.h"

#include <functional>
#include <vector>

namespace kxhost {

class SuitSession;

// Why this build has no view (the browser's), or null where it has one.
extern const char* const kNoView;

class HostProgram {
public:
    // `live`: standard output is a terminal whose lines can be redrawn.
    HostProgram(const HostOptions& options, bool live);

    // Each returns the exit code, or throws Failure.
    int Info();
    int Stream();
    int Record();
    int View();

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
    // Says on standard error what OscSender::Send reported, if anything.
    void NoteOscFailure(const std::vector<std::string>& failures);

    const HostOptions options_;
    Screen screen_;  // before the plug-in: the channel's last messages come here
    PluginLibrary plugin_;
    std::string loadedPath_;
};

}  // namespace kxhost
