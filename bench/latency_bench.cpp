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

std::mt19937& Random() {
    static std::mt19937 random(20240611u);
    return random;
}

struct Look {
    std::uint32_t number = 0;
    long long producedNs = -1;
    long long latestStartNs = std::numeric_limits<long long>::min();
};

void FrameAge(benchmark::State& state) {
    RunningChannel running(kAgeSuits, kAgeSuits, false);
    KestrionUnique& channel = running.Channel();
    std::uniform_real_distribution<double> pause(0.2, 1.8);
    std::vector<double> ages, periods;
    double longestCall = 0;
    long violations = 0, looks = 0;
    Look last[kAgeSuits];

    // The look at sample `l.number` is over: check it against the next sample.
    auto close = [&](int suit, const Look& l) {
        Frame next{};
        next.leadWord = l.number + 1;
        next.tailWords[1] = static_cast<std::uint32_t>(suit);
        const long long nextNs = KestrionSim::ProducedAtNs(next);
        if (nextNs < 0) return;
        periods.push_back(static_cast<double>(nextNs - l.producedNs));
        if (l.latestStartNs >= nextNs) ++violations;
    };

    for (auto _ : state) {
        const std::int64_t end = NowNs() + static_cast<std::int64_t>(Seconds(4.0) * 1e9);
        const std::int64_t begin = NowNs();
        int suit = 0;
        while (NowNs() < end) {
            Frame frame;
            const long long t0 = KestrionSim::NowNs();
            channel.GetData(suit, frame);
            const long long t1 = KestrionSim::NowNs();
            const long long produced = KestrionSim::ProducedAtNs(frame);
            if (produced >= 0) {
                ++looks;
                ages.push_back(static_cast<double>(t1 - produced));
                longestCall = std::max(longestCall, static_cast<double>(t1 - t0));
                Look& l = last[suit];
                if (frame.leadWord != l.number) {
                    if (l.number != 0) close(suit, l);
                    l = Look{frame.leadWord, produced, t0};
                } else {
                    l.latestStartNs = std::max(l.latestStartNs, t0);
                }
            }
            suit = (suit + 1) % kAgeSuits;
            SleepMs(pause(Random()));
        }
        SleepMs(60);  // every suit's next sample exists now
        for (int s = 0; s < kAgeSuits; ++s) {
            if (last[s].number != 0) close(s, last[s]);
        }
        state.SetIterationTime(static_cast<double>(NowNs() - begin) / 1e9);
    }
    state.counters["age_p50_ms"] = Quantile(ages, 0.5) / 1e6;
    state.counters["age_max_ms"] = Quantile(ages, 1.0) / 1e6;
    state.counters["period_p50_ms"] = Quantile(periods, 0.5) / 1e6;
    state.counters["period_max_ms"] = Quantile(periods, 1.0) / 1e6;
    state.counters["getdata_max_us"] = longestCall / 1e3;
    state.counters["looks"] = static_cast<double>(looks);
    state.counters["stale_looks"] = static_cast<double>(violations);
}

void StopNormal(benchmark::State& state) {
    std::uniform_real_distribution<double> phase(0.0, 50.0);
    for (auto _ : state) {
        RunningChannel running(8, 8, false);
        SleepMs(phase(Random()));
        const std::int64_t t0 = NowNs();
        running.Channel().Reset();
        state.SetIterationTime(static_cast<double>(NowNs() - t0) / 1e9);
    }
}

void StopHungRead(benchmark::State& state) {
    for (auto _ : state) {
        RunningChannel running(8, 8, false);
        KestrionSim::HangReads(0);
        if (!KestrionSim::WaitForWaitingRead(0, 2000)) {
            state.SkipWithError("the read of suit 0 did not hang");
            break;
        }
        const std::int64_t t0 = NowNs();
        running.Channel().Reset();
        state.SetIterationTime(static_cast<double>(NowNs() - t0) / 1e9);
    }
}

int Register() {
    benchmark::RegisterBenchmark("FrameAge/open:8", FrameAge)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(Reps(3));
    benchmark::RegisterBenchmark("Stop/normal", StopNormal)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(Reps(30));
    benchmark::RegisterBenchmark("Stop/hung-read", StopHungRead)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(Reps(8));
    return 0;
}

const int registered = Register();

void Summarize(const Results& r, std::vector<Row>& rows) {
    if (r.Has("FrameAge/open:8")) {
        const char* n = "FrameAge/open:8";
        const double stale = r.Max(n, "stale_looks");
        rows.push_back({"4. Frame age, 8 open suits",
                        Format("median %.1f ms, max %.1f ms", r.Median(n, "age_p50_ms"), r.Max(n, "age_max_ms")), "-",
                        "-"});
        rows.push_back({"4. Period: 25 ms + pass + wake-up delay",
                        Format("median %.2f ms, max %.2f ms", r.Median(n, "period_p50_ms"), r.Max(n, "period_max_ms")),
                        "-", "-"});
        rows.push_back({"4. Looks older than one period",
                        Format("%.0f of %.0f (max age %.1f ms <= max period %.1f ms + GetData %.0f us)", stale,
                               r.Median(n, "looks"), r.Max(n, "age_max_ms"), r.Max(n, "period_max_ms"),
                               r.Max(n, "getdata_max_us")),
                        "age <= 25 ms + pass + sched.", Verdict(stale == 0)});
    }
    if (r.Has("Stop/normal")) {
        const double median = r.Median("Stop/normal", "time") / 1e6;
        rows.push_back({"5. Stop (Reset), normal worker, 8 suits",
                        Format("median %.1f ms, max %.1f ms (%zu stops)", median, r.Max("Stop/normal", "time") / 1e6,
                               r.Repetitions("Stop/normal")),
                        "median < 30 ms", Verdict(median < 30)});
    }
    if (r.Has("Stop/hung-read")) {
        const double max = r.Max("Stop/hung-read", "time") / 1e6;
        rows.push_back({"5. Stop (Reset), GyroRead never returns",
                        Format("median %.1f ms, max %.1f ms (%zu stops)", r.Median("Stop/hung-read", "time") / 1e6, max,
                               r.Repetitions("Stop/hung-read")),
                        "< 550 ms", Verdict(max < 550)});
    }
}

const int summarized = RegisterSummary(30, Summarize);

}  // namespace
