// The suit library stand-in's hung reads: the gates they wait at, each way
// of hanging, and their release.
#include "kestrion/Library.h"
#include "kestrion/ReadHazards.h"

#include <pthread.h>
#include <ctime>

namespace kestrion {
namespace {

using KestrionSim::Hang;

// Hang::LockedWait's reader thread exit code, which takes the reader's lock
// (as a library's per-thread clean-up might): run by a thread ended inside
// the wait, it would find that lock held if the end left it held.
std::atomic<std::size_t> readerExits{0};

struct ReaderExitCode {
    Gate* gate = nullptr;  // armed while the thread waits
    ~ReaderExitCode() {
        if (gate == nullptr) return;
        std::lock_guard<std::mutex> guard(gate->lock);
        readerExits.fetch_add(1);
    }
};
thread_local ReaderExitCode readerExitCode;

void SlicedWait(Gate& g) {
    std::unique_lock<std::mutex> guard(g.lock);
    while (!g.released.load()) g.opened.wait_for(guard, std::chrono::milliseconds(10));
}

void LockedWait(Gate& g) {
    readerExitCode.gate = &g;
    {
        std::unique_lock<std::mutex> guard(g.lock);
        while (!g.released.load()) g.opened.wait(guard);
    }
    readerExitCode.gate = nullptr;
}

// A released LockedWait reader wakes under its lock; a reader ended inside
// the wait must not keep that lock held for good. A lock still held after
// ten seconds (a hang, to a test) is reported, and the gate released
// without it.
void ReleaseLocked(Gate& g) {
    timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += 10;
    const bool locked = pthread_mutex_timedlock(g.lock.native_handle(), &until) == 0;
    g.released = true;
    g.opened.notify_all();
    if (locked) {
        g.lock.unlock();
    } else {
        std::fprintf(stderr, "Kestrion simulator: a stopped reader's lock stayed held for 10 s\n");
    }
}

}  // namespace

void WaitAt(Gate& g) {
    switch (g.how) {
        case Hang::Wait:
        case Hang::SignalsBlocked:
            SlicedWait(g);
            break;
        case Hang::LockedWait:
            LockedWait(g);
            break;
        case Hang::LoaderWalk:
            InsideLoaderWalk([](void* gate) { SlicedWait(*static_cast<Gate*>(gate)); }, &g);
            break;
        case Hang::Spin:
            while (!g.released.load(std::memory_order_relaxed)) {
            }
            break;
        case Hang::Mutex:
            g.held.lock();
            g.held.unlock();
            break;
        case Hang::Pipe:
            ReadOneByte(g.pipe[0]);
            break;
    }
}

void Release(Gate& g) {
    if (g.released.load()) return;
    if (g.how == Hang::LockedWait) {
        ReleaseLocked(g);
        return;
    }
    g.released = true;
    g.opened.notify_all();
    if (g.how == Hang::Mutex && g.holding && g.holder == std::this_thread::get_id()) {
        g.holding = false;
        g.held.unlock();
    }
    if (g.how == Hang::Pipe) {
        ClosePipeEnd(g.pipe[1]);
        g.pipe[1] = kNoPipe;
    }
}

void ReleaseStoppedByFinish(Library& l) {
    for (auto& gate : l.gates) {
        if (gate->how == Hang::LockedWait) Release(*gate);
    }
}

// A released reader leaves at once; one still inside after the bound died
// there.
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
        ClosePipeEnd(gate->pipe[0]);
        gate->pipe[0] = kNoPipe;
        if (gate->readers > 0) l.keptForDeadReaders.push_back(std::move(gate));
    }
    l.gates.clear();
}

Gate* NewGate(Library& l, Hang how, bool hangsForGood, bool hold) {
    auto gate = std::make_unique<Gate>(how, hangsForGood);
    if (how == Hang::Mutex && hold) {
        gate->held.lock();
        gate->holder = std::this_thread::get_id();
        gate->holding = true;
    }
    if (how == Hang::Pipe && !OpenPipe(gate->pipe)) {
        std::fprintf(stderr, "Kestrion simulator: no pipe for a hung read; it waits instead\n");
        gate = std::make_unique<Gate>(Hang::Wait, hangsForGood);
    }
    l.gates.push_back(std::move(gate));
    return l.gates.back().get();
}

void BeforeWaiting(Hang how) {
    if (how == Hang::SignalsBlocked) BlockAllSignals();
}

void AfterLateWrite(Hang how) {
    if (how == Hang::SignalsBlocked) RestoreSignals();
}

std::size_t ReaderThreadExits() { return readerExits.load(); }

void ForgetReaderThreadExits() { readerExits = 0; }

}  // namespace kestrion
