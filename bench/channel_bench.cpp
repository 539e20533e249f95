// A channel on the scripted suit library, seen from the host's side.
//
// GetData of one suit against its floor: a bare lock, 240-byte copy and
// unlock of the same kind of mutex (process-private), with the driver
// idle and while its worker polls 1, 16 and 64 open suits with the suit
// library's simulated reads.
//
// The worker's CPU use with 8 open suits: the process's CPU time less this
// thread's, over a window of a few seconds while this thread sleeps (the
// worker being the only other thread), against the wall clock. With the
// suit library's cheapest reads (the driver's own cost) and with its
// simulated ones (pose computation and call log included).
//
// Frame age: a host reads the 8 open suits in turn at irregular moments
// (0.2 to 1.8 ms apart, so every sample is seen) and each GetData's result is
// dated by the suit library's production time of that sample. The worker
// stamps a sample while it holds the suit's frame mutex, so GetData returns
// sample k only if it began before sample k + 1 was produced; each look is
// checked against that, with the production time of k + 1 taken from the
// library once it exists. The gap between two samples of a suit is the
// polling period: 25 ms plus one pass plus the worker's wake-up delay.
//
// Stop: the channel's Reset, timed from the host's side, at a random moment
// of the worker's cycle; and with the suit library's read of suit 0 hung.
#include "BenchSupport.h"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <random>

namespace {

using namespace kxbench;

std::mt19937 random(20240611u);

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

// What the process's other threads used: the worker's, when it is the only
// one and this thread sleeps. Each pass ends in one sleep, the worker's only
// voluntary context switch.
std::pair<double, double> Others() {
    rusage all, self;
    getrusage(RUSAGE_SELF, &all);
    getrusage(RUSAGE_THREAD, &self);
    return {static_cast<double>(NowNs(CLOCK_PROCESS_CPUTIME_ID) - NowNs(CLOCK_THREAD_CPUTIME_ID)),
            static_cast<double>(all.ru_nvcsw - self.ru_nvcsw)};
}

void WorkerCpu(State& state, bool fastReads) {
    RunningChannel running(8, 8, fastReads);
    if (std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}) != 2) {
        return state.SkipWithError("a thread besides the worker runs");
    }
    SleepMs(60);  // past the first passes
    const auto [cpu0, passes0] = Others();
    const std::int64_t start = NowNs();
    SleepMs(Seconds(3.0) * 1e3);
    const auto [cpu1, passes1] = Others();
    state.counters["cpu_percent"] = 100.0 * (cpu1 - cpu0) / static_cast<double>(NowNs() - start);
    state.counters["cpu_per_pass_us"] = passes1 > passes0 ? (cpu1 - cpu0) / (passes1 - passes0) / 1e3 : NAN;
}

constexpr int kAgeSuits = 8;

struct Look {
    std::uint32_t number = 0;
    long long producedNs = -1;
    long long latestStartNs = std::numeric_limits<long long>::min();
};

void FrameAge(State& state) {
    RunningChannel running(kAgeSuits, kAgeSuits, false);
    std::uniform_real_distribution<double> pause(0.2, 1.8);
    std::vector<double> ages, periods;
    double longestCall = 0, looks = 0, stale = 0;
    Look last[kAgeSuits];

    // The look at sample `l.number` is over: check it against the next sample.
    auto close = [&](int suit, const Look& l) {
        Frame next{};
        next.leadWord = l.number + 1;
        next.tailWords[1] = static_cast<std::uint32_t>(suit);
        const long long nextNs = KestrionSim::ProducedAtNs(next);
        if (l.number == 0 || nextNs < 0) return;
        periods.push_back(static_cast<double>(nextNs - l.producedNs));
        stale += l.latestStartNs >= nextNs;
    };

    const std::int64_t end = NowNs() + static_cast<std::int64_t>(Seconds(4.0) * 1e9);
    for (int suit = 0; NowNs() < end; suit = (suit + 1) % kAgeSuits) {
        Frame frame;
        const long long t0 = KestrionSim::NowNs();
        running.channel.GetData(suit, frame);
        const long long t1 = KestrionSim::NowNs(), produced = KestrionSim::ProducedAtNs(frame);
        if (produced >= 0) {
            ++looks;
            ages.push_back(static_cast<double>(t1 - produced));
            longestCall = std::max(longestCall, static_cast<double>(t1 - t0));
            Look& l = last[suit];
            if (frame.leadWord != l.number) {
                close(suit, l);
                l = Look{frame.leadWord, produced, t0};
            }
            l.latestStartNs = std::max(l.latestStartNs, t0);
        }
        SleepMs(pause(random));
    }
    SleepMs(60);  // every suit's next sample exists now
    for (int s = 0; s < kAgeSuits; ++s) close(s, last[s]);
    state.counters.insert({{"age_p50_ms", Quantile(ages, 0.5) / 1e6}, {"age_max_ms", Quantile(ages, 1.0) / 1e6},
                           {"period_p50_ms", Quantile(periods, 0.5) / 1e6},
                           {"period_max_ms", Quantile(periods, 1.0) / 1e6}, {"getdata_max_us", longestCall / 1e3},
                           {"looks", looks}, {"stale_looks", stale}});
}

// With `hung`, the read of suit 0 never returns.
void Stop(State& state, bool hung) {
    RunningChannel running(8, 8, false);
    if (hung) {
        KestrionSim::HangReads(0);
        if (!KestrionSim::WaitForWaitingRead(0, 2000)) return state.SkipWithError("the read of suit 0 did not hang");
    } else {
        SleepMs(std::uniform_real_distribution<double>(0.0, 50.0)(random));
    }
    const std::int64_t t0 = NowNs();
    running.channel.Reset();
    state.counters["stop_ms"] = static_cast<double>(NowNs() - t0) / 1e6;
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
    for (const char* reads : {"fast", "simulated"}) {
        const std::string name = std::string("WorkerCpu/open:8/reads:") + reads;
        Bench(name, 5, [fast = reads[0] == 'f'](State& s) { WorkerCpu(s, fast); });
        Figure(Format("3. Worker CPU, 8 open suits, %s reads", reads), "< 0.5 % of one core", [=](const Results& r) {
            const double percent = r.Median(name, "cpu_percent");
            return Measured(Format("%.3f %% of one core (%.1f us per pass)", percent, r.Median(name, "cpu_per_pass_us")),
                            percent < 0.5);
        });
    }
    const char* age = "FrameAge/open:8";
    Bench(age, 3, FrameAge);
    Figure("4. Frame age, 8 open suits", "-", [=](const Results& r) {
        return Format("median %.1f ms, max %.1f ms", r.Median(age, "age_p50_ms"), r.Max(age, "age_max_ms"));
    });
    Figure("4. Period: 25 ms + pass + wake-up delay", "-", [=](const Results& r) {
        return Format("median %.2f ms, max %.2f ms", r.Median(age, "period_p50_ms"), r.Max(age, "period_max_ms"));
    });
    Figure("4. Looks older than one period", "age <= 25 ms + pass + sched.", [=](const Results& r) {
        const double stale = r.Max(age, "stale_looks");
        return Measured(Format("%.0f of %.0f (max age %.1f ms <= max period %.1f ms + GetData %.0f us)", stale,
                               r.Median(age, "looks"), r.Max(age, "age_max_ms"), r.Max(age, "period_max_ms"),
                               r.Max(age, "getdata_max_us")),
                        stale == 0);
    });
    for (bool hung : {false, true}) {
        const std::string name = hung ? "Stop/hung-read" : "Stop/normal";
        Bench(name, hung ? 8 : 30, [hung](State& s) { Stop(s, hung); });
        Figure(hung ? "5. Stop (Reset), GyroRead never returns" : "5. Stop (Reset), normal worker, 8 suits",
               hung ? "< 550 ms" : "median < 30 ms", [=](const Results& r) {
                   const double median = r.Median(name, "stop_ms"), max = r.Max(name, "stop_ms");
                   return Measured(Format("median %.1f ms, max %.1f ms (%zu stops)", median, max, r.Repetitions(name)),
                                   hung ? max < 550 : median < 30);
               });
    }
    return true;
}();

}  // namespace
