// `kestrion-host view`: the suits in a browser. The program's thread reads
// the frames, hands them to the web server and, between two frames, does
// what the page asked for: it alone calls the channel.
#include "kestrion-host/Failure.h"
#include "kestrion-host/HostProgram.h"

#ifdef _WIN32

namespace kxhost {

int HostProgram::View() { throw Failure(kExitUsage, "the view is Linux only"); }

}  // namespace kxhost

#else

#include "kestrion-host/Recording.h"
#include "kestrion-host/SuitSession.h"
#include "kestrion-host/ViewServer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace kxhost {
namespace {

using Clock = std::chrono::steady_clock;

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// The page's requests, carried out on the program's thread, and what the
// page is told about each frame besides the suits' poses.
class ViewControls {
public:
    ViewControls(SuitSession& session, Screen& screen, double rate)
        : session_(session), screen_(screen), rate_(rate) {}

    std::shared_ptr<const ViewFrame> Frame(const std::vector<::Frame>& frames) {
        const auto now = Clock::now();
        auto frame = std::make_shared<ViewFrame>();
        frame->index = index_;
        frame->seconds = static_cast<double>(index_++) / rate_;
        frame->readNs = std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count();
        frame->suits = session_.Suits();
        frame->frames = frames;
        if (previous_.size() != frames.size()) {
            previous_ = frames;
            samples_.assign(frames.size(), 1);
            changed_.assign(frames.size(), now);
        }
        for (std::size_t i = 0; i < frames.size(); ++i) {
            if (std::memcmp(&frames[i], &previous_[i], sizeof frames[i]) != 0) {
                previous_[i] = frames[i];
                ++samples_[i];
                changed_[i] = now;
            }
            frame->agesMs.push_back(std::chrono::duration<double, std::milli>(now - changed_[i]).count());
        }
        frame->samples = samples_;
        if (recording_) Record(frames);
        frame->recording = recordingJson_;
        return frame;
    }

    ViewAnswer Handle(const ViewRequest& request) {
        using Kind = ViewRequest::Kind;
        SuitSettings settings;
        const Switch mode = request.on ? Switch::On : Switch::Off;
        const char* onOff = request.on ? " on" : " off";
        std::string what;
        switch (request.kind) {
            case Kind::SetNull:
                settings.setNull = true;
                what = "set null";
                break;
            case Kind::SetNorth:
                settings.setNorth = true;
                what = "set north";
                break;
            case Kind::Jumping:
                settings.jumping = mode;
                what = std::string("jumping") + onOff;
                break;
            case Kind::UnevenTerrain:
                settings.unevenTerrain = mode;
                what = std::string("uneven terrain") + onOff;
                break;
            case Kind::IgnoreFloor:
                settings.ignoreFloor = mode;
                what = std::string("ignore floor") + onOff;
                break;
            case Kind::RecordStart: return StartRecording(request.file);
            case Kind::RecordStop: return StopRecording();
        }
        for (int suit : session_.Suits()) {
            if (request.suit < 0 || request.suit == suit) session_.ApplyTo(suit, settings);
        }
        what += request.suit < 0 ? " for every suit" : " for suit " + std::to_string(request.suit);
        screen_.Print("From the page: " + what);
        what[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(what[0])));
        return {200, what};
    }

    // The view is ending: a recording still open is not written.
    void Abandon() {
        if (!recording_) return;
        recording_.reset();
        screen_.Note("kestrion-host: the recording from the page stopped with the view; no file written");
    }

private:
    ViewAnswer StartRecording(const std::string& file) {
        if (recording_) return {409, "already recording to " + Joined(recording_->Names())};
        try {
            Recording::RefuseExisting(Recording::FileNames(file, session_.Suits()), false);
        } catch (const Failure& failure) {
            return {409, failure.what()};
        }
        try {
            auto recording = std::make_unique<Recording>(file, session_.Suits(), rate_, false);
            recording->Open();
            recording_ = std::move(recording);
        } catch (const Failure& failure) {
            return {500, failure.what()};
        }
        screen_.Print("Recording to " + Joined(recording_->Names()) + " (from the page)");
        UpdateRecordingJson();
        return {200, "Recording to " + Joined(recording_->Names())};
    }

    ViewAnswer StopRecording() {
        if (!recording_) return {409, "not recording"};
        const std::unique_ptr<Recording> recording = std::move(recording_);
        recordingJson_.clear();
        try {
            recording->Commit();
        } catch (const Failure& failure) {
            recordingJson_ = "{\"error\":" + Quoted(failure.what()) + "}";
            return {500, failure.what()};
        }
        const std::string length =
            " (" + std::to_string(recording->Frames()) + " frames, " + Number(recording->Frames() / rate_) + " s)";
        for (const std::string& name : recording->Names()) screen_.Print("Wrote " + name + length);
        return {200, "Wrote " + Joined(recording->Names()) + length};
    }

    void Record(const std::vector<::Frame>& frames) {
        try {
            recording_->Add(frames);
            UpdateRecordingJson();
        } catch (const Failure& failure) {
            recording_.reset();
            recordingJson_ = "{\"error\":" + Quoted(failure.what()) + "}";
            screen_.Note(std::string("kestrion-host: ") + failure.what());
        }
    }

    void UpdateRecordingJson() {
        std::string files;
        for (const std::string& name : recording_->Names()) files += (files.empty() ? "" : ",") + Quoted(name);
        recordingJson_ = "{\"files\":[" + files + "],\"frames\":" + std::to_string(recording_->Frames()) + "}";
    }

    SuitSession& session_;
    Screen& screen_;
    const double rate_;
    long index_ = 0;
    std::vector<::Frame> previous_;
    std::vector<long> samples_;
    std::vector<Clock::time_point> changed_;
    std::unique_ptr<Recording> recording_;
    std::string recordingJson_;
};

}  // namespace

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
    server.Serve(session.Suits());

    std::string host = options_.listen == "0.0.0.0" ? "127.0.0.1" : options_.listen == "::" ? "::1" : options_.listen;
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    if (server.Open()) {
        screen_.Note("kestrion-host: warning: the view listens on " + options_.listen +
                     ": whoever reaches this machine can watch the suits and control them");
    }
    screen_.Print("Viewing " + SuitList(session.Suits()) + " at " + Number(options_.rate) + " Hz on http://" + host +
                  ":" + std::to_string(server.Port()) + "/ " + HowLong());

    ViewControls controls(session, screen_, options_.rate);
    const bool complete = ReadFrames(
        session, FramesAsked(),
        [&](const std::vector<Frame>& read) {
            server.Publish(controls.Frame(read));
            server.Drain([&controls](const ViewRequest& request) { return controls.Handle(request); });
        },
        Ticker("viewing"));
    controls.Abandon();
    server.Stop();
    screen_.Print(complete ? "View ended" : "View stopped by Ctrl-C");
    return kExitOk;
}

}  // namespace kxhost

#endif
