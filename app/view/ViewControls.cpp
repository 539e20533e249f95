#include "app/view/ViewControls.h"

#include "app/base/Failure.h"
#include "app/base/Text.h"
#include "app/view/ViewJson.h"

#include <cctype>
#include <cstring>

namespace kxhost {

std::shared_ptr<const ViewFrame> ViewControls::Frame(const std::vector<::Frame>& frames) {
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

ViewAnswer ViewControls::Handle(const ViewRequest& request) {
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

void ViewControls::Abandon() {
    if (!recording_) return;
    recording_.reset();
    screen_.Note("kestrion-host: the recording from the page stopped with the view; no file written");
}

ViewAnswer ViewControls::StartRecording(const std::string& file) {
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
        resampler_ = std::make_unique<FrameResampler>(rate_);
    } catch (const Failure& failure) {
        return {500, failure.what()};
    }
    screen_.Print("Recording to " + Joined(recording_->Names()) + " (from the page)");
    recordingJson_ = RecordingJson(recording_->Names(), recording_->Frames());
    return {200, "Recording to " + Joined(recording_->Names())};
}

ViewAnswer ViewControls::StopRecording() {
    if (!recording_) return {409, "not recording"};
    const std::unique_ptr<Recording> recording = std::move(recording_);
    recordingJson_.clear();
    try {
        recording->Commit();
    } catch (const Failure& failure) {
        recordingJson_ = RecordingErrorJson(failure.what());
        return {500, failure.what()};
    }
    for (const std::string& name : recording->Names()) screen_.Print(recording->Wrote(name));
    return {200, recording->Wrote(Joined(recording->Names()))};
}

void ViewControls::Record(const std::vector<::Frame>& frames) {
    try {
        resampler_->Add(frames);
        for (std::vector<::Frame> resampled; resampler_->Next(&resampled);) recording_->Add(resampled);
        recordingJson_ = RecordingJson(recording_->Names(), recording_->Frames());
    } catch (const Failure& failure) {
        recording_.reset();
        recordingJson_ = RecordingErrorJson(failure.what());
        screen_.Note(std::string("kestrion-host: ") + failure.what());
    }
}

}  // namespace kxhost
