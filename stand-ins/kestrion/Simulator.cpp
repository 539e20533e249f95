// The suit library stand-in: the twelve Gyro calls over simulated suits,
// and the scripting interface of KestrionSim.h.
#include "kestrion/Environment.h"
#include "kestrion/KestrionSim.h"
#include "kestrion/Pipe.h"
#include "kestrion/Replay.h"
#include "kestrion/SuitMotion.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kInfoMagic = 0x4955534Bu;   // "KSUI"
constexpr GyroHandle kHandleBase = 0x4B510000u;
constexpr int kMaxSuits = 1024;
constexpr std::size_t kHalfFrame = sizeof(Frame) / 2;

// The layout this library gives the 24 bytes of a SuitInfo.
struct InfoLayout {
    std::uint32_t magic;
    std::int32_t index;
    std::uint32_t serial;
    char model[12];
};
static_assert(sizeof(InfoLayout) == sizeof(SuitInfo), "fills the whole buffer");

// What a scripted read waits on. A gate is freed only once no reader is in
// it: a reader may be a thread that was terminated inside the wait, and
// the gate it died in is kept for good.
struct Gate {
    Gate(KestrionSim::Hang h, bool hangs) : how(h), hangsForGood(hangs) {}

    const KestrionSim::Hang how;
    const bool hangsForGood;  // false: only the next read waits, then completes
    std::atomic<bool> released{false};
    int readers = 0;  // under the library's lock

    // Hang::Wait. The release never takes `lock`, which a reader terminated
    // inside the wait may hold, so the waits are sliced.
    std::mutex lock;
    std::condition_variable opened;
    // Hang::Mutex: held by `holder` from the hang to the release.
    std::mutex held;
    std::thread::id holder;
    bool holding = false;
    // Hang::Pipe: nothing is ever written; the release closes the write end.
    kestrion::PipeEnd pipe[2] = {kestrion::kNoPipe, kestrion::kNoPipe};
};

void WaitAt(Gate& g) {
    using KestrionSim::Hang;
    switch (g.how) {
        case Hang::Wait: {
            std::unique_lock<std::mutex> guard(g.lock);
            while (!g.released.load()) g.opened.wait_for(guard, std::chrono::milliseconds(10));
            break;
        }
        case Hang::Spin:
            while (!g.released.load(std::memory_order_relaxed)) {
            }
            break;
        case Hang::Mutex:
            g.held.lock();
            g.held.unlock();
            break;
        case Hang::Pipe:
            kestrion::ReadOneByte(g.pipe[0]);
            break;
    }
}

void Release(Gate& g) {
    using KestrionSim::Hang;
    if (g.released.exchange(true)) return;
    if (g.how == Hang::Wait) g.opened.notify_all();
    if (g.how == Hang::Mutex && g.holding && g.holder == std::this_thread::get_id()) {
        g.holding = false;
        g.held.unlock();
    }
    if (g.how == Hang::Pipe) {
        kestrion::ClosePipeEnd(g.pipe[1]);
        g.pipe[1] = kestrion::kNoPipe;
    }
}

struct ProducedSample {
    std::uint32_t number = 0;
    long long ns = -1;
};

struct SuitState {
    int openCount = 0;
    bool openFails = false;
    kestrion::MotionSettings settings;
    std::uint32_t samples = 0;
    Gate* nextReadsWaitAt = nullptr;  // scripted: set until released
    Gate* hangsLater = nullptr;       // from the environment: becomes nextReadsWaitAt
    int goodReadsLeft = 0;            // before that
    Gate* waitingOn = nullptr;        // set while a read waits
    std::array<ProducedSample, 64> produced;
};

struct Library {
    std::mutex lock;
    std::condition_variable changed;  // a call was logged, or a read began to wait

    bool scripted = false;
    int scriptedInit = 1;
    int scriptedSuits = 3;
    std::set<int> scriptedNoOpen;

    int initCount = 0;
    int suitCount = 0;
    std::vector<SuitState> suits;
    std::vector<std::shared_ptr<const kestrion::Replay>> replays;  // by suit; the rest walk
    long long replayStartNs = 0;
    std::vector<KestrionSim::Call> log;
    std::vector<std::unique_ptr<Gate>> gates;
    std::vector<std::unique_ptr<Gate>> keptForDeadReaders;

    KestrionSim::FinishHook finishHook = nullptr;
    void* finishContext = nullptr;
    const Clock::time_point epoch = Clock::now();
    std::FILE* callLog = nullptr;  // KESTRION_SIM_CALL_LOG, while started
};

Library& Lib() {
    static auto* library = new Library;  // outlives static destruction and any late reader
    return *library;
}

std::atomic<bool> fastReads{false};
Frame fastFrame;

long long SinceEpochNs(const Library& l) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - l.epoch).count();
}

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

std::uint32_t Checksum(const Frame& f) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&f);
    std::uint32_t h = 2166136261u;
    for (std::size_t i = 0; i < offsetof(Frame, tailWords); ++i) h = (h ^ bytes[i]) * 16777619u;
    return h;
}

// The suit an open handle stands for, or -1.
int OpenSuitOf(Library& l, GyroHandle handle) {
    if (handle <= kHandleBase) return -1;
    const std::uint32_t index = handle - kHandleBase - 1;
    if (index >= l.suits.size() || l.suits[index].openCount == 0) return -1;
    return static_cast<int>(index);
}

const kestrion::Replay* ReplayOf(const Library& l, int suit) {
    return static_cast<std::size_t>(suit) < l.replays.size() ? l.replays[static_cast<std::size_t>(suit)].get()
                                                             : nullptr;
}

// Where the suit is and which way it faces, before calibration.
void Placement(const Library& l, int suit, long long ns, float* x, float* z, float* heading) {
    if (const kestrion::Replay* replay = ReplayOf(l, suit)) {
        replay->Placement((ns - l.replayStartNs) / 1e9, x, z, heading);
    } else {
        kestrion::RawPlacement(suit, ns / 1e9, x, z, heading);
    }
}

Frame NextSample(Library& l, int suit) {
    SuitState& s = l.suits[static_cast<std::size_t>(suit)];
    Frame f;
    std::memset(&f, 0, sizeof f);
    const long long ns = SinceEpochNs(l);
    if (const kestrion::Replay* replay = ReplayOf(l, suit)) {
        replay->Pose((ns - l.replayStartNs) / 1e9, s.settings, &f);
    } else {
        kestrion::ComputePose(suit, ns / 1e9, s.settings, &f);
    }
    f.leadWord = ++s.samples;
    f.tailWords[1] = static_cast<std::uint32_t>(suit);
    f.tailWords[0] = Checksum(f);
    s.produced[f.leadWord % s.produced.size()] = ProducedSample{f.leadWord, ns};
    return f;
}

// Releases every scripted wait, now and for good, and frees the gates that
// no reader is left in. A released reader leaves at once; one still inside
// after the bound died there.
void ReleaseAllWaits(std::unique_lock<std::mutex>& guard, Library& l) {
    for (auto& gate : l.gates) Release(*gate);
    for (SuitState& s : l.suits) s.nextReadsWaitAt = nullptr;
    const auto bound = Clock::now() + std::chrono::milliseconds(50);
    auto occupied = [&] {
        for (auto& gate : l.gates) {
            if (gate->readers > 0) return true;
        }
        return false;
    };
    while (occupied() && Clock::now() < bound) {
        guard.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        guard.lock();
    }
    for (auto& gate : l.gates) {
        kestrion::ClosePipeEnd(gate->pipe[0]);
        gate->pipe[0] = kestrion::kNoPipe;
        if (gate->readers > 0) l.keptForDeadReaders.push_back(std::move(gate));
    }
    l.gates.clear();
}

// A gate of `how`, kept among the library's gates; under the library's
// lock. With `hold`, Hang::Mutex is held by the calling thread from now on.
Gate* NewGate(Library& l, KestrionSim::Hang how, bool hangsForGood, bool hold = true) {
    using KestrionSim::Hang;
    auto gate = std::make_unique<Gate>(how, hangsForGood);
    if (how == Hang::Mutex && hold) {
        gate->held.lock();
        gate->holder = std::this_thread::get_id();
        gate->holding = true;
    }
    if (how == Hang::Pipe && !kestrion::OpenPipe(gate->pipe)) {
        std::fprintf(stderr, "Kestrion simulator: no pipe for a hung read; it waits instead\n");
        gate = std::make_unique<Gate>(Hang::Wait, hangsForGood);
    }
    l.gates.push_back(std::move(gate));
    return l.gates.back().get();
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
    std::vector<std::shared_ptr<const kestrion::Replay>> replays;
    kestrion::EnvironmentSettings env;
    if (l.scripted) {
        result = l.scriptedInit;
        count = l.scriptedSuits;
        noOpen = l.scriptedNoOpen;
    } else {
        std::string error;
        if (!kestrion::ReadEnvironment(&env, &error)) {
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
            return 0;
        }
        // A scripted wait, with half of the new sample already in the
        // caller's buffer: a copy taken meanwhile without the caller's lock
        // would be torn.
        std::memcpy(frame, &next, kHalfFrame);
        gate = s.nextReadsWaitAt;
        if (!gate->hangsForGood) s.nextReadsWaitAt = nullptr;
        ++gate->readers;
        s.waitingOn = gate;
        l.changed.notify_all();
    }
    const bool hung = gate->hangsForGood;
    WaitAt(*gate);
    {
        std::lock_guard<std::mutex> guard(l.lock);
        --gate->readers;
        for (SuitState& s : l.suits) {
            if (s.waitingOn == gate) s.waitingOn = nullptr;
        }
    }
    if (hung) return -1;  // only a Reset ends a hung read
    std::memcpy(reinterpret_cast<char*>(frame) + kHalfFrame, reinterpret_cast<const char*>(&next) + kHalfFrame,
                sizeof next - kHalfFrame);
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
    }
    if (hook != nullptr) hook(context);
    return 0;
}

}  // extern "C"

namespace KestrionSim {

std::string Call::Text() const {
    std::string text = function + "(";
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) text += ", ";
        text += std::to_string(arguments[i]);
    }
    return text + ")";
}

void Reset() {
    Library& l = Lib();
    std::unique_lock<std::mutex> guard(l.lock);
    ReleaseAllWaits(guard, l);
    l.scripted = true;
    l.scriptedInit = 1;
    l.scriptedSuits = 3;
    l.scriptedNoOpen.clear();
    l.initCount = 0;
    l.suitCount = 0;
    l.suits.clear();
    l.replays.clear();
    l.log.clear();
    l.finishHook = nullptr;
    l.finishContext = nullptr;
    fastReads = false;
}

void SetInitResult(int result) {
    std::lock_guard<std::mutex> guard(Lib().lock);
    Lib().scriptedInit = result;
}

void SetSuitCount(int count) {
    std::lock_guard<std::mutex> guard(Lib().lock);
    Lib().scriptedSuits = count < -kMaxSuits ? -kMaxSuits : count > kMaxSuits ? kMaxSuits : count;
}

void SetOpenFails(int suit, bool fails) {
    Library& l = Lib();
    std::lock_guard<std::mutex> guard(l.lock);
    if (fails) {
        l.scriptedNoOpen.insert(suit);
    } else {
        l.scriptedNoOpen.erase(suit);
    }
    if (suit >= 0 && static_cast<std::size_t>(suit) < l.suits.size()) {
        l.suits[static_cast<std::size_t>(suit)].openFails = fails;
    }
}

namespace {

void WaitAtNewGate(int suit, Hang how, bool hangsForGood) {
    Library& l = Lib();
    std::lock_guard<std::mutex> guard(l.lock);
    if (suit < 0 || static_cast<std::size_t>(suit) >= l.suits.size()) return;
    SuitState& s = l.suits[static_cast<std::size_t>(suit)];
    if (s.nextReadsWaitAt != nullptr) Release(*s.nextReadsWaitAt);
    s.nextReadsWaitAt = NewGate(l, how, hangsForGood);
}

}  // namespace

void BlockNextRead(int suit) { WaitAtNewGate(suit, Hang::Wait, false); }

void HangReads(int suit, Hang how) { WaitAtNewGate(suit, how, true); }

bool WaitForWaitingRead(int suit, int timeoutMs) {
    Library& l = Lib();
    std::unique_lock<std::mutex> guard(l.lock);
    return l.changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
        return suit >= 0 && static_cast<std::size_t>(suit) < l.suits.size() &&
               l.suits[static_cast<std::size_t>(suit)].waitingOn != nullptr;
    });
}

void ReleaseRead(int suit) {
    Library& l = Lib();
    std::lock_guard<std::mutex> guard(l.lock);
    if (suit < 0 || static_cast<std::size_t>(suit) >= l.suits.size()) return;
    Gate* gate = l.suits[static_cast<std::size_t>(suit)].waitingOn;
    if (gate != nullptr) Release(*gate);
}

void SetFastReads(bool on) {
    if (on) {
        Library& l = Lib();
        std::lock_guard<std::mutex> guard(l.lock);
        std::memset(&fastFrame, 0, sizeof fastFrame);
        kestrion::ComputePose(0, 1.0, kestrion::MotionSettings(), &fastFrame);
        fastFrame.leadWord = 1;
        fastFrame.tailWords[0] = Checksum(fastFrame);
    }
    fastReads = on;
}

std::vector<Call> Calls() {
    std::lock_guard<std::mutex> guard(Lib().lock);
    return Lib().log;
}

std::vector<std::string> CallTexts() {
    std::vector<std::string> texts;
    for (const Call& c : Calls()) texts.push_back(c.Text());
    return texts;
}

namespace {

std::size_t CountLocked(const Library& l, const char* function) {
    std::size_t n = 0;
    for (const Call& c : l.log) n += c.function == function ? 1 : 0;
    return n;
}

}  // namespace

std::size_t CountCalls(const char* function) {
    std::lock_guard<std::mutex> guard(Lib().lock);
    return CountLocked(Lib(), function);
}

void ClearCalls() {
    std::lock_guard<std::mutex> guard(Lib().lock);
    Lib().log.clear();
}

bool WaitForCalls(const char* function, std::size_t count, int timeoutMs) {
    Library& l = Lib();
    std::unique_lock<std::mutex> guard(l.lock);
    return l.changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                              [&] { return CountLocked(l, function) >= count; });
}

GyroHandle HandleOf(int suit) { return kHandleBase + 1 + static_cast<GyroHandle>(suit); }

bool FrameIsWhole(const Frame& frame) { return frame.leadWord != 0 && frame.tailWords[0] == Checksum(frame); }

long long ProducedAtNs(const Frame& frame) {
    Library& l = Lib();
    std::lock_guard<std::mutex> guard(l.lock);
    const std::size_t suit = frame.tailWords[1];
    if (suit >= l.suits.size()) return -1;
    const ProducedSample& p = l.suits[suit].produced[frame.leadWord % l.suits[suit].produced.size()];
    return p.number == frame.leadWord ? p.ns : -1;
}

long long NowNs() { return SinceEpochNs(Lib()); }

void SetFinishHook(FinishHook hook, void* context) {
    std::lock_guard<std::mutex> guard(Lib().lock);
    Lib().finishHook = hook;
    Lib().finishContext = context;
}

}  // namespace KestrionSim
