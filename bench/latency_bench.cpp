// Frame age and Stop.
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

#include <cmath>
#include <limits>
#include <random>

namespace {

using namespace kxbench;

constexpr int kAgeSuits = 8;

std::mt19937 random(20240611u);

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

    for (auto _ : state) {
        const std::int64_t begin = NowNs(), end = begin + static_cast<std::int64_t>(Seconds(4.0) * 1e9);
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
        state.SetIterationTime(static_cast<double>(NowNs() - begin) / 1e9);
    }
    state.counters.insert({{"age_p50_ms", Quantile(ages, 0.5) / 1e6}, {"age_max_ms", Quantile(ages, 1.0) / 1e6},
                           {"period_p50_ms", Quantile(periods, 0.5) / 1e6},
                           {"period_max_ms", Quantile(periods, 1.0) / 1e6}, {"getdata_max_us", longestCall / 1e3},
                           {"looks", looks}, {"stale_looks", stale}});
}

// With `hung`, the read of suit 0 never returns.
void Stop(State& state, bool hung) {
    std::uniform_real_distribution<double> phase(0.0, 50.0);
    for (auto _ : state) {
        RunningChannel running(8, 8, false);
        if (!hung) SleepMs(phase(random));
        else KestrionSim::HangReads(0);
        if (hung && !KestrionSim::WaitForWaitingRead(0, 2000)) return state.SkipWithError("the read of suit 0 did not hang");
        const std::int64_t t0 = NowNs();
        running.channel.Reset();
        state.SetIterationTime(static_cast<double>(NowNs() - t0) / 1e9);
    }
}

std::string Stops(const Results& r, const char* name) {
    return Format("median %.1f ms, max %.1f ms (%zu stops)", r.Median(name) / 1e6, r.Max(name) / 1e6,
                  r.Repetitions(name));
}

const bool registered = [] {
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
    Bench("Stop/normal", 30, [](State& s) { Stop(s, false); });
    Figure("5. Stop (Reset), normal worker, 8 suits", "median < 30 ms", [](const Results& r) {
        return Measured(Stops(r, "Stop/normal"), r.Median("Stop/normal") / 1e6 < 30);
    });
    Bench("Stop/hung-read", 8, [](State& s) { Stop(s, true); });
    Figure("5. Stop (Reset), GyroRead never returns", "< 550 ms", [](const Results& r) {
        return Measured(Stops(r, "Stop/hung-read"), r.Max("Stop/hung-read") / 1e6 < 550);
    });
    return true;
}();

}  // namespace
