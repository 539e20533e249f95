#include "kestrion-host/SuitSession.h"

#include "kestrion-host/Failure.h"
#include "kestrion-host/FrameClock.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

namespace kxhost {
namespace {

// The driver hands out a frame of zeros until its first read of the suit.
bool HasData(const Frame& frame) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&frame);
    for (std::size_t i = 0; i < sizeof frame; ++i) {
        if (bytes[i] != 0) return true;
    }
    return false;
}

std::string SuitRange(int count) {
    if (count == 1) return "1 suit (0)";
    return std::to_string(count) + " suits (0 to " + std::to_string(count - 1) + ")";
}

}  // namespace

SuitSession::SuitSession(const PluginLibrary& plugin) : channel_(plugin.NewChannel()) {}

SuitSession::~SuitSession() {
    channel_->Reset();
    channel_.reset();
}

void SuitSession::Connect(const std::vector<int>& wanted) {
    // The first connect starts the driver, and only a started driver knows
    // how many suits there are.
    channel_->Connect(wanted.empty() ? 0 : wanted.front());
    const int count = channel_->GetNrOfSuits();
    if (count <= 0) {
        throw Failure(kExitFailure, "no suits found: the suit library did not start or found none"
                                    " (see the plug-in's messages above)");
    }
    for (int suit : wanted) {
        if (suit >= count) {
            throw Failure(kExitUsage, "suit " + std::to_string(suit) + " does not exist: the suit library found " +
                                          SuitRange(count));
        }
    }
    if (wanted.empty()) {
        for (int suit = 0; suit < count; ++suit) suits_.push_back(suit);
    } else {
        suits_ = wanted;
    }
    for (std::size_t i = 1; i < suits_.size(); ++i) channel_->Connect(suits_[i]);
}

void SuitSession::Apply(const SuitSettings& settings) {
    const bool any = settings.setNull || settings.setNorth || settings.jumping != Switch::Unchanged ||
                     settings.unevenTerrain != Switch::Unchanged || settings.ignoreFloor != Switch::Unchanged;
    if (!any) return;
    for (int suit : suits_) ApplyTo(suit, settings);
    // The driver may have read the suits between connecting and now.
    Read(&beforeSettings_);
}

void SuitSession::ApplyTo(int suit, const SuitSettings& settings) {
    if (settings.jumping != Switch::Unchanged) channel_->EnableJumping(suit, settings.jumping == Switch::On);
    if (settings.unevenTerrain != Switch::Unchanged) {
        channel_->EnableUnevenTerrain(suit, settings.unevenTerrain == Switch::On);
    }
    if (settings.ignoreFloor != Switch::Unchanged) {
        channel_->EnableIgnoreFloor(suit, settings.ignoreFloor == Switch::On);
    }
    if (settings.setNull) channel_->SetNull(suit);
    if (settings.setNorth) channel_->SetNorth(suit);
}

bool SuitSession::WaitForFrames(double timeoutSeconds) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration<double>(timeoutSeconds);
    // A suit whose samples never change would hold us up for good: past this
    // bound its frame counts as new.
    const auto newBound = start + std::chrono::duration<double>(std::min(timeoutSeconds, 1.0));
    Frame frame{};
    for (std::size_t i = 0; i < suits_.size(); ++i) {
        for (;;) {
            channel_->GetData(suits_[i], frame);
            if (HasData(frame)) {
                const bool stale = !beforeSettings_.empty() &&
                                   std::memcmp(&frame, &beforeSettings_[i], sizeof frame) == 0;
                if (!stale || Clock::now() >= newBound) break;
            } else if (Clock::now() >= deadline) {
                throw Failure(kExitFailure, "suit " + std::to_string(suits_[i]) +
                                                " sends no frames: it did not open (nothing within " +
                                                std::to_string(static_cast<int>(timeoutSeconds)) + " s)");
            }
            if (!FrameClock::Pause(0.005)) return false;
        }
    }
    return true;
}

void SuitSession::Read(std::vector<Frame>* frames) {
    frames->resize(suits_.size());
    for (std::size_t i = 0; i < suits_.size(); ++i) channel_->GetData(suits_[i], (*frames)[i]);
}

}  // namespace kxhost
