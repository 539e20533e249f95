#include "kestrion-host/HostProgram.h"

#include "host/Orv_List.h"
#include "kestrion-host/Failure.h"
#include "kestrion-host/FrameClock.h"
#include "kestrion-host/LiveView.h"
#include "kestrion-host/OscSender.h"
#include "kestrion-host/ProgressBar.h"
#include "kestrion-host/Recording.h"
#include "kestrion-host/SuitSession.h"
#include "platform/DynamicLibrary.h"
#include "platform/Files.h"
#include "platform/Interrupt.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kxhost {
namespace {

// Time for a connected suit to deliver its first frame; the driver reads
// every 25 ms, so only a suit that did not open takes this long.
constexpr double kFirstFrameSeconds = 3;

std::string GuidText(const OrvGuid& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(guid.data1), guid.data2, guid.data3, guid.data4[0], guid.data4[1],
                  guid.data4[2], guid.data4[3], guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);
    return text;
}

// Three significant digits, for measured values.
double Round(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", value);
    return std::atof(text);
}

}  // namespace

std::string SuitList(const std::vector<int>& suits) {
    std::string list = suits.size() == 1 ? "suit " : "suits ";
    for (std::size_t i = 0; i < suits.size(); ++i) {
        if (i > 0) list += i + 1 == suits.size() ? " and " : ", ";
        list += std::to_string(suits[i]);
    }
    return list;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

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

int HostProgram::Info() {
    LoadPlugin();
    const ChannelType* type = plugin_.GetType();
    std::printf("library  %s\n", loadedPath_.c_str());
    std::printf("channel type\n");
    std::printf("  name        %.79s\n", type->typeName);
    std::printf("  type GUID   %s\n", GuidText(type->typeGuid).c_str());
    std::printf("  class GUID  %s\n", GuidText(type->classGuid).c_str());
    std::printf("  flags       device channel %ld (at 120), user creatable %ld (at 124), options 0x%08lX (at 128)\n",
                static_cast<long>(type->deviceChannel), static_cast<long>(type->userCreatable),
                static_cast<unsigned long>(type->options));

    Orv_List dependencies;
    plugin_.NewChannel()->Base()->DoDependencyInit(&dependencies);
    std::printf("dependencies\n");
    for (int i = 0; i < dependencies.Count(); ++i) std::printf("  %s\n", dependencies.At(i).c_str());

    std::printf("commands\n");
    for (const Command& command : plugin_.Commands()) {
        std::printf("  %d  %s\n", command.id, command.name.c_str());
        std::size_t start = 0;
        while (start < command.description.size()) {
            std::size_t end = command.description.find('\n', start);
            if (end == std::string::npos) end = command.description.size();
            std::printf("       %s\n", command.description.substr(start, end - start).c_str());
            start = end + 1;
        }
    }
    std::fflush(stdout);
    return kExitOk;
}

int HostProgram::Stream() {
    LoadPlugin();
    SuitSession session(plugin_);
    if (!StartSuits(session)) return kExitOk;
    OscSender osc(options_.osc, session.Suits(), options_.rate);
    screen_.Print("Streaming " + SuitList(session.Suits()) + " at " + Number(options_.rate) + " Hz " + HowLong());
    if (!osc.Description().empty()) screen_.Print(osc.Description());
    const bool complete = ReadFrames(
        session, FramesAsked(), [&osc](const std::vector<Frame>& read) { osc.Send(read); }, Ticker("streaming"));
    screen_.Print(complete ? std::string("Stream ended") : std::string("Stream stopped by ") + kx::InterruptName());
    return kExitOk;
}

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
    std::string names;
    for (const std::string& name : recording.Names()) names += (names.empty() ? "" : ", ") + name;
    screen_.Print("Recording " + SuitList(session.Suits()) + " at " + Number(rate) + " Hz for " +
                  Number(frames / rate) + " s to " + names);
    if (!osc.Description().empty()) screen_.Print(osc.Description());
    const ProgressBar bar(frames / rate, 30);
    const bool complete = ReadFrames(
        session, frames, [&recording, &osc](const std::vector<Frame>& read) {
            recording.Add(read);
            osc.Send(read);
        },
        [&bar, rate](long done) { return "recording " + bar.Text(done / rate); });
    if (!complete) throw interrupted();
    recording.Commit();
    for (const std::string& name : recording.Names()) {
        screen_.Print("Wrote " + name + " (" + std::to_string(recording.Frames()) + " frames, " +
                      Number(frames / rate) + " s)");
    }
    return kExitOk;
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

bool HostProgram::StartSuits(SuitSession& session) {
    session.Connect(options_.suits);
    session.Apply(options_.settings);
    return session.WaitForFrames(kFirstFrameSeconds);
}

bool HostProgram::ReadFrames(SuitSession& session, long frames, const FrameSink& sink,
                             const std::function<std::string(long)>& status) {
    LiveView view(screen_, session.Suits());
    FrameClock clock(options_.rate);
    std::vector<Frame> read;
    for (long k = 0; frames < 0 || k < frames; ++k) {
        if (!clock.WaitFor(k)) {
            view.Finish();
            return false;
        }
        session.Read(&read);
        sink(read);
        view.Update(k / options_.rate, read, status(k + 1));
    }
    view.Finish();
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
