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

void Floor(State& state) {
    pthread_mutex_t* mutex = DriverKindMutex(false);
    auto shared = std::make_unique<Frame>();
    std::memset(shared.get(), 0x5A, sizeof(Frame));
    Frame out;
    for (auto _ : state) {
        pthread_mutex_lock(mutex);
        std::memcpy(&out, shared.get(), sizeof out);
        pthread_mutex_unlock(mutex);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
}

// polled 0: the driver runs, suit 0 was read once and disconnected, so the
// worker's passes read nothing. With `timeEach`, every call is timed on its
// own, one clock read (clock_ns) included.
void GetData(State& state, int polled, bool timeEach) {
    RunningChannel running(std::max(polled, 1), std::max(polled, 1), false);
    if (polled == 0) running.channel.Disconnect(0);
    Frame out;
    if (!timeEach) {
        for (auto _ : state) {
            running.channel.GetData(0, out);
            benchmark::DoNotOptimize(out);
            benchmark::ClobberMemory();
        }
        return;
    }
    std::vector<double> clock(100000);
    for (double& c : clock) {
        const std::int64_t t0 = NowNs();
        c = static_cast<double>(NowNs() - t0);
    }
    // Counted by the nanosecond; the rare calls of 20 us or more kept one by one.
    std::vector<std::uint64_t> counts(20000);
    std::vector<double> slow;
    for (auto _ : state) {
        const std::int64_t t0 = NowNs();
        running.channel.GetData(0, out);
        const std::int64_t took = NowNs() - t0;
        benchmark::DoNotOptimize(out);
        if (took < 20000) ++counts[took];
        else slow.push_back(static_cast<double>(took));
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
    state.counters.insert({{"p99_ns", quantile(0.99)}, {"p999_ns", quantile(0.999)}, {"max_ns", quantile(1.0)},
                           {"calls", calls}, {"over_20us", static_cast<double>(slow.size())},
                           {"clock_ns", Quantile(clock, 0.5)}});
}

const bool registered = [] {
    Loop("GetData/floor", 12, 0.2, Floor);
    Figure("1. GetData floor: lock + 240 B copy + unlock", "-",
           [](const Results& r) { return Format("%.1f ns", r.Median("GetData/floor")); });
    for (int polled : {0, 1, 16, 64}) {
        const std::string suffix = polled == 0 ? "idle" : "polled:" + std::to_string(polled);
        const std::string config = polled == 0 ? "driver idle" : "polling " + Suits(polled);
        const std::string each = "GetData/" + suffix, alone = "GetDataLatency/" + suffix;
        Loop(each, 12, 0.2, [=](State& s) { GetData(s, polled, false); });
        Loop(alone, 5, 1.0, [=](State& s) { GetData(s, polled, true); });
        Figure("1. GetData median, " + config, "<= 1.5 x floor", [=](const Results& r) {
            const double t = r.Median(each), ratio = t / r.Median("GetData/floor");
            return Measured(Format("%.1f ns = %.2f x floor", t, ratio), ratio <= 1.5);
        });
        Figure("1. GetData p99, " + config, polled == 0 ? "-" : "p99 < 20 us", [=](const Results& r) {
            const double p99 = r.Median(alone, "p99_ns");
            return Measured(Format("p99 %.2f us, p99.9 %.2f us; %.1f calls in 10^6 over 20 us, longest %.1f ms "
                                   "(clock read %.0f ns included)",
                                   p99 / 1e3, r.Median(alone, "p999_ns") / 1e3,
                                   1e6 * r.Median(alone, "over_20us") / r.Median(alone, "calls"),
                                   r.Max(alone, "max_ns") / 1e6, r.Median(alone, "clock_ns")),
                            polled == 0 ? std::nullopt : std::optional<bool>(p99 < 20000));
        });
    }
    return true;
}();

}  // namespace
