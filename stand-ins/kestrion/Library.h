// The suit library stand-in's state, shared by its parts: the Gyro calls
// (GyroCalls.cpp), the hung reads (Hangs.cpp) and the scripting interface
// of KestrionSim.h (Scripting.cpp).
#pragma once

#include "kestrion/KestrionSim.h"
#include "kestrion/Pipe.h"
#include "kestrion/replay/Replay.h"
#include "kestrion/motion/SuitMotion.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace kestrion {

using Clock = std::chrono::steady_clock;

constexpr GyroHandle kHandleBase = 0x4B510000u;
constexpr int kMaxSuits = 1024;

// What a scripted read waits on. A gate is freed only once no reader is in
// it: a reader may be a thread that was terminated inside the wait, and
// the gate it died in is kept for good.
struct Gate {
    Gate(KestrionSim::Hang h, bool hangs) : how(h), hangsForGood(hangs) {}

    const KestrionSim::Hang how;
    const bool hangsForGood;  // false: only the next read waits, then completes
    std::atomic<bool> released{false};
    int readers = 0;  // under the library's lock

    // Hang::Wait and the waits like it. The release never takes `lock`,
    // which a reader terminated inside the wait may hold, so the waits are
    // sliced. Hang::LockedWait waits on them without slices, and is
    // released under `lock`, as a library that stops its reader does.
    std::mutex lock;
    std::condition_variable opened;
    // Hang::Mutex: held by `holder` from the hang to the release.
    std::mutex held;
    std::thread::id holder;
    bool holding = false;
    // Hang::Pipe: nothing is ever written; the release closes the write end.
    PipeEnd pipe[2] = {kNoPipe, kNoPipe};
};

struct ProducedSample {
    std::uint32_t number = 0;
    long long ns = -1;
};

struct SuitState {
    int openCount = 0;
    bool openFails = false;
    MotionSettings settings;
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
    std::vector<std::shared_ptr<const Replay>> replays;  // by suit; the rest walk
    long long replayStartNs = 0;
    int readMs = 0;  // how long each read takes, from the environment
    std::vector<KestrionSim::Call> log;
    std::vector<std::unique_ptr<Gate>> gates;
    std::vector<std::unique_ptr<Gate>> keptForDeadReaders;

    KestrionSim::FinishHook finishHook = nullptr;
    void* finishContext = nullptr;
    const Clock::time_point epoch = Clock::now();
    std::FILE* callLog = nullptr;  // KESTRION_SIM_CALL_LOG, while started
};

// Outlives static destruction and any late reader.
Library& Lib();

extern std::atomic<bool> fastReads;
extern Frame fastFrame;

long long SinceEpochNs(const Library& l);
std::uint32_t Checksum(const Frame& f);

// Hangs.cpp. Under the library's lock, but for WaitAt.
// A gate of `how`, kept among the library's gates. With `hold`,
// Hang::Mutex is held by the calling thread from now on.
Gate* NewGate(Library& l, KestrionSim::Hang how, bool hangsForGood, bool hold = true);
// Outside the library's lock: until the gate is released.
void WaitAt(Gate& g);
void Release(Gate& g);
// Releases every scripted wait, now and for good, and frees the gates that
// no reader is left in.
void ReleaseAllWaits(std::unique_lock<std::mutex>& guard, Library& l);
// Releases the reads that GyroFinish stops (Hang::LockedWait).
void ReleaseStoppedByFinish(Library& l);
// A read of `how` starts waiting: what it does before the library's lock
// is let go (Hang::SignalsBlocked blocks its thread's signals).
void BeforeWaiting(KestrionSim::Hang how);
// A read of `how` has written the rest of its sample after its wait.
void AfterLateWrite(KestrionSim::Hang how);
std::size_t ReaderThreadExits();
void ForgetReaderThreadExits();

}  // namespace kestrion
