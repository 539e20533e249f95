#include "app/HostProgram.h"

#include "app/base/Failure.h"
#include "app/channel/FrameClock.h"
#include "app/channel/SuitSession.h"
#include "app/platform/DynamicLibrary.h"
#include "app/platform/Files.h"
#include "app/terminal/FrameTable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kxhost {
namespace {

// Time for a connected suit to deliver its first frame; the driver reads
// every 25 ms, so only a suit that did not open takes this long.
constexpr double kFirstFrameSeconds = 3;

// Three significant digits, for measured values.
double Round(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", value);
    return std::atof(text);
}

}  // namespace

HostProgram::HostProgram(const HostOptions& options, bool live) : options_(options), screen_(live) {
    screen_.RouteDebugMessages();
}

void HostProgram::LoadPlugin() {
    std::string path = options_.plugin;
    if (path.empty()) {
        const std::string name = kx::LibraryFileName("KestrionUnique");
        path = kx::ProgramDirectory() + name;
        // Installed, the plug-in lies apart from the program (packaging/).
        const std::string installed = kx::ProgramDirectory() + KX_PLUGIN_FROM_PROGRAM + name;
        std::string unused;
        if (kx::Examine(path, &unused) == kx::PathKind::None &&
            kx::Examine(installed, &unused) == kx::PathKind::Other) {
            path = installed;
        }
    }
    std::string error;
    if (!plugin_.Load(path, &error)) throw Failure(kExitFailure, error);
    loadedPath_ = path;
}

long HostProgram::FramesAsked() const {
    if (options_.seconds < 0) return -1;
    return std::max(1L, static_cast<long>(std::ceil(options_.seconds * options_.rate)));
}

std::string HostProgram::HowLong() const {
    return options_.seconds < 0 ? "until Ctrl-C" : "for " + Number(options_.seconds) + " s";
}

std::function<std::string(long)> HostProgram::Ticker(const char* doing) const {
    const double rate = options_.rate;
    return [doing, rate](long done) {
        char text[96];
        std::snprintf(text, sizeof text, "%s at %g Hz: %.1f s (Ctrl-C stops)", doing, rate, done / rate);
        return std::string(text);
    };
}

void HostProgram::NoteOscFailure(const std::vector<std::string>& failures) {
    for (const std::string& failure : failures) screen_.Note("kestrion-host: " + failure);
}

bool HostProgram::StartSuits(SuitSession& session) {
    session.Connect(options_.suits);
    session.Apply(options_.settings);
    return session.WaitForFrames(kFirstFrameSeconds);
}

bool HostProgram::ReadFrames(SuitSession& session, long frames, const FrameSink& sink,
                             const std::function<std::string(long)>& status) {
    FrameTable table(screen_, session.Suits());
    FrameClock clock(options_.rate);
    std::vector<Frame> read;
    for (long k = 0; frames < 0 || k < frames; ++k) {
        if (!clock.WaitFor(k)) {
            table.Finish();
            return false;
        }
        session.Read(&read);
        sink(read);
        table.Update(k / options_.rate, read, status(k + 1));
    }
    table.Finish();
    // Late frames are read at once, so a run that cannot keep up has frames
    // whose times, k / rate, are too early: say so.
    const double planned = frames / options_.rate, late = clock.Lateness(frames - 1);
    if (frames > 0 && late > std::max(0.25, planned / 10)) {
        screen_.Note("kestrion-host: fell " + Number(Round(late)) + " s behind the rate: " + std::to_string(frames) +
                     " frames took " + Number(Round(planned + late)) + " s rather than " + Number(planned) +
                     " s, " + Number(Round(frames / (planned + late))) + " a second rather than " +
                     Number(options_.rate));
    }
    return true;
}

}  // namespace kxhost
