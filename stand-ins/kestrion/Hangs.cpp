// The suit library stand-in's hung reads: the gates they wait at, each way
// of hanging, and their release.
#include "kestrion/Library.h"


namespace kestrion {
namespace {

using KestrionSim::Hang;

void SlicedWait(Gate& g) {
    std::unique_lock<std::mutex> guard(g.lock);
    while (!g.released.load()) g.opened.wait_for(guard, std::chrono::milliseconds(10));
}

}  // namespace

void WaitAt(Gate& g) {
    switch (g.how) {
        case Hang::Wait:
            SlicedWait(g);
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
    if (g.released.exchange(true)) return;
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

}  // namespace kestrion
