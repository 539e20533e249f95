#include "app/channel/SuitSession.h"

#include "app/base/Failure.h"
#include "app/channel/FrameClock.h"
#include "app/platform/Interrupt.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
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

// A GetData waits at most for one read of the suit, normally well under a
// millisecond. The other calls wait for the driver's pass over every suit,
// which takes up to a millisecond a suit under Wine on a busy machine.
constexpr double kReadBound = 0.5;
constexpr double kPassPerSuit = 0.004;
// The first connect starts the suit library, which searches for the suits.
constexpr double kStartBound = 5;
// A reset waits half a second for a driver stuck in a read, then ends it.
constexpr double kResetBound = 2;

std::atomic<void (*)()> abandonHook{nullptr};

// The end when a thread of ours is stuck in the plug-in: no unwinding, no
// destructor may touch the channel or unload its library.
[[noreturn]] void Abandon(int code, const std::string& message) {
    if (void (*cleanUp)() = abandonHook.load()) cleanUp();
    std::fflush(stdout);
    std::fprintf(stderr, "kestrion-host: %s\n", message.c_str());
    std::fflush(stderr);
    kx::ExitNow(code);
}

std::string Seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", value);
    return text;
}

}  // namespace

void SuitSession::OnAbandon(void (*cleanUp)()) { abandonHook.store(cleanUp); }

SuitSession::SuitSession(const PluginLibrary& plugin) {
    OnChannel("InitDLL", kReadBound, [&] { channel_ = plugin.NewChannel(); });
}

SuitSession::~SuitSession() {
    OnChannel("Reset", PassBound(kResetBound), [this] {
        channel_->Reset();
        channel_.reset();
    });
}

void SuitSession::OnChannel(const char* what, double bound, const std::function<void()>& call) {
    const ChannelThread::Outcome outcome = thread_.Run(call, bound);
    if (outcome == ChannelThread::Outcome::Done) return;
    const int suit = readingSuit_.load();
    const std::string stuck = suit >= 0 ? "suit " + std::to_string(suit) + "'s read in the suit library"
                                        : std::string("the plug-in's ") + what;
    const char* unreset = "; ended without resetting the channel";
    if (outcome == ChannelThread::Outcome::Stopped) {
        Abandon(kx::InterruptExitCode(),
                std::string("stopped by ") + kx::InterruptName() + " while " + stuck + " had not returned" + unreset);
    }
    Abandon(kExitFailure, (suit >= 0 ? "suit " + std::to_string(suit) + " hangs: its read in the suit library"
                                     : stuck) +
                              " has not returned for " + Seconds(bound) + unreset);
}

double SuitSession::PassBound(double base) const {
    return base + kPassPerSuit * static_cast<double>(suits_.size());
}

void SuitSession::GetData(std::size_t index, Frame* frame) {
    thread_.Beat();
    readingSuit_.store(suits_[index]);
    channel_->GetData(suits_[index], *frame);
    readingSuit_.store(-1);
}

void SuitSession::Connect(const std::vector<int>& wanted) {
    // The first connect starts the driver, and only a started driver knows
    // how many suits there are.
    int count = 0;
    OnChannel("Connect", kStartBound, [&] {
        channel_->Connect(wanted.empty() ? 0 : wanted.front());
        count = channel_->GetNrOfSuits();
    });
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
    for (std::size_t i = 1; i < suits_.size(); ++i) {
        OnChannel("Connect", PassBound(kReadBound), [&] { channel_->Connect(suits_[i]); });
    }
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
    // Each waits for the driver's pass: one call at a time, each bounded.
    auto call = [&](const char* what, const std::function<void()>& apply) {
        OnChannel(what, PassBound(kReadBound), apply);
    };
    if (settings.jumping != Switch::Unchanged) {
        call("EnabelJumping", [&] { channel_->EnableJumping(suit, settings.jumping == Switch::On); });
    }
    if (settings.unevenTerrain != Switch::Unchanged) {
        call("EnableUnevenTerrain", [&] { channel_->EnableUnevenTerrain(suit, settings.unevenTerrain == Switch::On); });
    }
    if (settings.ignoreFloor != Switch::Unchanged) {
        call("EnableIgnoreFloor", [&] { channel_->EnableIgnoreFloor(suit, settings.ignoreFloor == Switch::On); });
    }
    if (settings.setNull) call("SetNull", [&] { channel_->SetNull(suit); });
    if (settings.setNorth) call("SetNorth", [&] { channel_->SetNorth(suit); });
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
            OnChannel("GetData", kReadBound, [&] { GetData(i, &frame); });
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
    OnChannel("GetData", kReadBound, [&] {
        for (std::size_t i = 0; i < suits_.size(); ++i) GetData(i, &(*frames)[i]);
    });
}

}  // namespace kxhost
