// GetData of one suit against its floor: a bare lock, 240-byte copy and
// unlock of the same kind of mutex (process-private), with the driver
// idle and while its worker polls 1, 16 and 64 open suits with the suit
// library's simulated reads.
#include "BenchSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

using namespace kxbench;

template <class Read>
void Calls(benchmark::State& state, Read read) {
    Frame out;
    for (auto _ : state) {
        read(out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
}

void Floor(benchmark::State& state) {
    pthread_mutex_t* mutex = DriverKindMutex(false);
    auto shared = std::make_unique<Frame>();
    std::memset(shared.get(), 0x5A, sizeof(Frame));
    Calls(state, [&](Frame& out) {
        pthread_mutex_lock(mutex);
        std::memcpy(&out, shared.get(), sizeof out);
        pthread_mutex_unlock(mutex);
    });
}

// polled 0: the driver runs, suit 0 was read once and disconnected, so the
// worker's passes read nothing. With `timeEach`, every call is timed on its
// own, one clock read (clock_ns) included.
void GetData(benchmark::State& state, int polled, bool timeEach) {
    RunningChannel running(std::max(polled, 1), std::max(polled, 1), false);
    if (polled == 0) running.channel.Disconnect(0);
    if (!timeEach) return Calls(state, [&](Frame& out) { running.channel.GetData(0, out); });
    std::vector<double> clock(100000);
    for (double& c : clock) {
        const std::int64_t t0 = NowNs();
        c = static_cast<double>(NowNs() - t0);
    }
    // Counted by the nanosecond; the rare calls of 20 us or more kept one by one.
    std::vector<std::uint64_t> counts(20000);
    std::vector<double> slow;
    Frame out;
    for (auto _ : state) {
        const std::int64_t t0 = NowNs();
        running.channel.GetData(0, out);
        const std::int64_t took = NowNs() - t0;
        benchmark::DoNotOptimize(out);
        if (took < 20000) {
            ++counts[took];
        } else {
            slow.push_back(static_cast<double>(took));
        }
    }
    const double calls = static_cast<double>(state.iterations());
    std::sort(slow.begin(), slow.end());
    auto quantile = [&](double fraction) {
        double rank = std::ceil(fraction * calls), seen = 0;
        for (std::size_t ns = 0; ns < counts.size(); ++ns) {
            if ((seen += counts[ns]) >= rank) return static_cast<double>(ns);
        }
        return slow[static_cast<std::size_t>(rank - seen) - 1];
    };
    state.counters["p99_ns"] = quantile(0.99);
    state.counters["p999_ns"] = quantile(0.999);
    state.counters["max_ns"] = quantile(1.0);
    state.counters["calls"] = calls;
    state.counters["over_20us"] = static_cast<double>(slow.size());
    state.counters["clock_ns"] = Quantile(clock, 0.5);
}

const bool registered = [] {
    Loop("GetData/floor", 12, 0.2, Floor);
    Figure("1. GetData floor: lock + 240 B copy + unlock", "-",
           [](const Results& r) { return Measured{Format("%.1f ns", r.Median("GetData/floor"))}; });
    for (bool timeEach : {false, true}) {
        for (int polled : {0, 1, 16, 64}) {
            const std::string name = std::string(timeEach ? "GetDataLatency/" : "GetData/") +
                                     (polled == 0 ? "idle" : "polled:" + std::to_string(polled));
            Loop(name, timeEach ? 5 : 12, timeEach ? 1.0 : 0.2,
                 [=](benchmark::State& s) { GetData(s, polled, timeEach); });
            const std::string config = polled == 0 ? "driver idle" : "polling " + Suits(polled);
            if (!timeEach) {
                Figure("1. GetData median, " + config, "<= 1.5 x floor", [=](const Results& r) {
                    const double t = r.Median(name), ratio = t / r.Median("GetData/floor");
                    return Measured{Format("%.1f ns = %.2f x floor", t, ratio), ratio <= 1.5};
                });
            } else {
                Figure("1. GetData p99, " + config, polled == 0 ? "-" : "p99 < 20 us", [=](const Results& r) {
                    const double p99 = r.Median(name, "p99_ns");
                    return Measured{Format("p99 %.2f us, p99.9 %.2f us; %.1f calls in 10^6 over 20 us, longest %.1f ms "
                                           "(clock read %.0f ns included)",
                                           p99 / 1e3, r.Median(name, "p999_ns") / 1e3,
                                           1e6 * r.Median(name, "over_20us") / r.Median(name, "calls"),
                                           r.Max(name, "max_ns") / 1e6, r.Median(name, "clock_ns")),
                                    polled == 0 ? std::nullopt : std::optional<bool>(p99 < 20000)};
                });
            }
        }
    }
    return true;
}();

}  // namespace
