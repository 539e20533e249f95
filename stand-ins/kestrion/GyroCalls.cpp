// The suit library stand-in's twelve Gyro calls, over simulated suits.
#include "kestrion/Environment.h"
#include "kestrion/Library.h"

#include <cstring>

using namespace kestrion;

namespace {

constexpr std::uint32_t kInfoMagic = 0x4955534Bu;  // "KSUI"
constexpr std::size_t kHalfFrame = sizeof(Frame) / 2;

// The layout this library gives the 24 bytes of a SuitInfo.
struct InfoLayout {
    std::uint32_t magic;
    std::int32_t index;
    std::uint32_t serial;
    char model[12];
};
static_assert(sizeof(InfoLayout) == sizeof(SuitInfo), "fills the whole buffer");

void Log(Library& l, const char* function, std::vector<long long> arguments) {
    if (!l.scripted) {
        // A host program's session is recorded only when asked, without the
        // reads, so that its end-to-end tests can see what reached the suits.
        if (l.callLog != nullptr && std::strcmp(function, "GyroRead") != 0) {
            std::fprintf(l.callLog, "%s\n", KestrionSim::Call{function, std::move(arguments), 0}.Text().c_str());
            std::fflush(l.callLog);
        }
        return;
    }
    l.log.push_back(KestrionSim::Call{function, std::move(arguments), SinceEpochNs(l)});
    l.changed.notify_all();
}

// The suit an open handle stands for, or -1.
int OpenSuitOf(Library& l, GyroHandle handle) {
    if (handle <= kHandleBase) return -1;
    const std::uint32_t index = handle - kHandleBase - 1;
    if (index >= l.suits.size() || l.suits[index].openCount == 0) return -1;
    return static_cast<int>(index);
}

const Replay* ReplayOf(const Library& l, int suit) {
    return static_cast<std::size_t>(suit) < l.replays.size() ? l.replays[static_cast<std::size_t>(suit)].get()
                                                             : nullptr;
}

// Where the suit is and which way it faces, before calibration.
void Placement(const Library& l, int suit, long long ns, float* x, float* z, float* heading) {
    if (const Replay* replay = ReplayOf(l, suit)) {
        replay->Placement((ns - l.replayStartNs) / 1e9, x, z, heading);
    } else {
        RawPlacement(suit, ns / 1e9, x, z, heading);
    }
}

Frame NextSample(Library& l, int suit) {
    SuitState& s = l.suits[static_cast<std::size_t>(suit)];
    Frame f;
    std::memset(&f, 0, sizeof f);
    const long long ns = SinceEpochNs(l);
    if (const Replay* replay = ReplayOf(l, suit)) {
        replay->Pose((ns - l.replayStartNs) / 1e9, s.settings, &f);
    } else {
        ComputePose(suit, ns / 1e9, s.settings, &f);
    }
    f.leadWord = ++s.samples;
    f.tailWords[1] = static_cast<std::uint32_t>(suit);
    f.tailWords[0] = Checksum(f);
    s.produced[f.leadWord % s.produced.size()] = ProducedSample{f.leadWord, ns};
    return f;
}

int SettingCall(const char* function, GyroHandle handle, long long flag, bool hasFlag,
                void (*apply)(Library&, int suit, long long flag)) {
    Library& l = Lib();
    std::lock_guard<std::mutex> guard(l.lock);
    Log(l, function, hasFlag ? std::vector<long long>{handle, flag} : std::vector<long long>{handle});
    const int suit = OpenSuitOf(l, handle);
    if (suit < 0) return -1;
    apply(l, suit, flag);
    return 0;
}

}  // namespace

extern "C" {

int GyroInit(void) {
    Library& l = Lib();
    std::unique_lock<std::mutex> guard(l.lock);
    Gate* toHold = nullptr;
    Log(l, "GyroInit", {});
    int result = 1;
    int count = 0;
    std::set<int> noOpen;
    std::vector<std::shared_ptr<const Replay>> replays;
    EnvironmentSettings env;
    if (l.scripted) {
        result = l.scriptedInit;
        count = l.scriptedSuits;
        noOpen = l.scriptedNoOpen;
    } else {
        std::string error;
        if (!ReadEnvironment(&env, &error)) {
            std::fprintf(stderr, "Kestrion simulator: %s\n", error.c_str());
            return 0;
        }
        result = env.initFails ? 0 : 1;
        count = env.suits;
        noOpen = env.noOpen;
        replays = env.replays;
        if (!env.callLog.empty() && l.callLog == nullptr) {
            l.callLog = std::fopen(env.callLog.c_str(), "a");
            if (l.callLog == nullptr) {
                std::fprintf(stderr, "Kestrion simulator: cannot write KESTRION_SIM_CALL_LOG %s\n", env.callLog.c_str());
                return 0;
            }
            Log(l, "GyroInit", {});
        }
    }
    if (result == 0) return 0;
    if (l.initCount++ == 0) {
        l.suitCount = count;
        l.suits.assign(static_cast<std::size_t>(count > 0 ? count : 0), SuitState());
        for (int suit : noOpen) {
            if (suit >= 0 && suit < count) l.suits[static_cast<std::size_t>(suit)].openFails = true;
        }
        l.replays = replays;
        l.readMs = env.readMs;
        l.replayStartNs = SinceEpochNs(l);
        if (env.hangSuit >= 0 && env.hangSuit < count) {
            // Made here, so that a mutex hang is held by the thread that
            // started the library, never by the reader.
            SuitState& s = l.suits[static_cast<std::size_t>(env.hangSuit)];
            s.hangsLater = NewGate(l, env.hangHow, true, false);
            s.goodReadsLeft = env.hangAfter;
            if (env.hangHow == KestrionSim::Hang::Mutex) toHold = s.hangsLater;
        }
    }
    if (toHold != nullptr) {
        // Taken outside the library's lock: this thread takes that lock
        // later while holding this one for good, so never the other way.
        guard.unlock();
        toHold->held.lock();
        guard.lock();
        toHold->holder = std::this_thread::get_id();
        toHold->holding = true;
    }
    return result;
}

int GyroFindSuits(void) {
    Library& l = Lib();
    std::lock_guard<std::mutex> guard(l.lock);
    Log(l, "GyroFindSuits", {});
    return l.initCount > 0 ? l.suitCount : 0;
}

int GyroEnumerateSuitInfo(int suit, SuitInfo* info) {
    Library& l = Lib();
    std::lock_guard<std::mutex> guard(l.lock);
    Log(l, "GyroEnumerateSuitInfo", {suit});
    if (info == nullptr) return -1;
    InfoLayout layout;
    std::memset(&layout, 0, sizeof layout);
    if (l.initCount == 0 || suit < 0 || suit >= l.suitCount) {
        std::memcpy(info, &layout, sizeof layout);
        return -1;
    }
    layout.magic = kInfoMagic;
    layout.index = suit;
    layout.serial = 0x1000u + static_cast<std::uint32_t>(suit);
    std::snprintf(layout.model, sizeof layout.model, "SIM-%04u", static_cast<unsigned>(suit) % 10000u);
    std::memcpy(info, &layout, sizeof layout);
    return 0;
}

GyroHandle GyroOpen(SuitInfo* info, int reserved1, int reserved2) {
    Library& l = Lib();
    std::lock_guard<std::mutex> guard(l.lock);
    InfoLayout layout;
    std::memset(&layout, 0, sizeof layout);
    if (info != nullptr) std::memcpy(&layout, info, sizeof layout);
    const bool valid = layout.magic == kInfoMagic && layout.index >= 0 && layout.index < l.suitCount;
    Log(l, "GyroOpen", {valid ? layout.index : -1, reserved1, reserved2});
    if (l.initCount == 0 || !valid) return 0;
    SuitState& s = l.suits[static_cast<std::size_t>(layout.index)];
    if (s.openFails) return 0;
    ++s.openCount;
    return kHandleBase + 1 + static_cast<GyroHandle>(layout.index);
}

int GyroRead(GyroHandle handle, Frame* frame) {
    if (fastReads.load(std::memory_order_relaxed)) {
        std::memcpy(frame, &fastFrame, sizeof fastFrame);
        return 0;
    }
    Library& l = Lib();
    Gate* gate = nullptr;
    Frame next;
    int slowMs = 0;
    {
        std::lock_guard<std::mutex> guard(l.lock);
        Log(l, "GyroRead", {handle});
        const int suit = OpenSuitOf(l, handle);
        if (suit < 0 || frame == nullptr) return -1;
        next = NextSample(l, suit);
        SuitState& s = l.suits[static_cast<std::size_t>(suit)];
        if (s.hangsLater != nullptr && s.goodReadsLeft-- == 0) {
            s.nextReadsWaitAt = s.hangsLater;
            s.hangsLater = nullptr;
        }
        if (s.nextReadsWaitAt == nullptr) {
            std::memcpy(frame, &next, sizeof next);
            slowMs = l.readMs;
        } else {
            // A scripted wait, with half of the new sample already in the
            // caller's buffer: a copy taken meanwhile without the caller's
            // lock would be torn.
            std::memcpy(frame, &next, kHalfFrame);
            gate = s.nextReadsWaitAt;
            if (!gate->hangsForGood) s.nextReadsWaitAt = nullptr;
            ++gate->readers;
            s.waitingOn = gate;
            BeforeWaiting(gate->how);
            l.changed.notify_all();
        }
    }
    if (gate == nullptr) {
        // Suits slower than their host: the read takes its time.
        if (slowMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(slowMs));
        return 0;
    }
    const KestrionSim::Hang how = gate->how;
    // Only a Reset ends a hung read, but one that keeps signals from its
    // thread completes its sample then, late.
    const bool completes = !gate->hangsForGood || how == KestrionSim::Hang::SignalsBlocked;
    WaitAt(*gate);
    {
        std::lock_guard<std::mutex> guard(l.lock);
        --gate->readers;
        for (SuitState& s : l.suits) {
            if (s.waitingOn == gate) s.waitingOn = nullptr;
        }
    }
    if (!completes) return -1;
    std::memcpy(reinterpret_cast<char*>(frame) + kHalfFrame, reinterpret_cast<const char*>(&next) + kHalfFrame,
                sizeof next - kHalfFrame);
    AfterLateWrite(how);
    return 0;
}

int GyroClose(GyroHandle handle) {
    Library& l = Lib();
    std::lock_guard<std::mutex> guard(l.lock);
    Log(l, "GyroClose", {handle});
    const int suit = OpenSuitOf(l, handle);
    if (suit < 0) return -1;
    --l.suits[static_cast<std::size_t>(suit)].openCount;
    return 0;
}

int GyroSetNull(GyroHandle handle) {
    return SettingCall("GyroSetNull", handle, 0, false, [](Library& l, int suit, long long) {
        SuitState& s = l.suits[static_cast<std::size_t>(suit)];
        float heading;
        Placement(l, suit, SinceEpochNs(l), &s.settings.nullX, &s.settings.nullZ, &heading);
    });
}

int GyroSetNorth(GyroHandle handle) {
    return SettingCall("GyroSetNorth", handle, 0, false, [](Library& l, int suit, long long) {
        SuitState& s = l.suits[static_cast<std::size_t>(suit)];
        float x, z;
        Placement(l, suit, SinceEpochNs(l), &x, &z, &s.settings.northDegrees);
    });
}

int GyroEnableJumping(GyroHandle handle, int on) {
    return SettingCall("GyroEnableJumping", handle, on, true, [](Library& l, int suit, long long flag) {
        l.suits[static_cast<std::size_t>(suit)].settings.jumping = flag != 0;
    });
}

int GyroEnableUnevenTerrain(GyroHandle handle, int on) {
    return SettingCall("GyroEnableUnevenTerrain", handle, on, true, [](Library& l, int suit, long long flag) {
        l.suits[static_cast<std::size_t>(suit)].settings.unevenTerrain = flag != 0;
    });
}

int GyroEnableIgnoreFloor(GyroHandle handle, int on) {
    return SettingCall("GyroEnableIgnoreFloor", handle, on, true, [](Library& l, int suit, long long flag) {
        l.suits[static_cast<std::size_t>(suit)].settings.ignoreFloor = flag != 0;
    });
}

int GyroFinish(void) {
    Library& l = Lib();
    KestrionSim::FinishHook hook;
    void* context;
    {
        std::lock_guard<std::mutex> guard(l.lock);
        Log(l, "GyroFinish", {});
        if (l.initCount > 0 && --l.initCount == 0) {
            for (SuitState& s : l.suits) s.openCount = 0;
            if (l.callLog != nullptr) std::fclose(l.callLog);
            l.callLog = nullptr;
        }
        hook = l.finishHook;
        context = l.finishContext;
        ReleaseStoppedByFinish(l);
    }
    if (hook != nullptr) hook(context);
    return 0;
}

}  // extern "C"

