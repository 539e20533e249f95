// The worker's CPU use with 8 open suits: its own CPU clock over a window of
// a few seconds while this thread sleeps, against the wall clock. With the
// suit library's cheapest reads (the driver's own cost) and with its
// simulated ones (pose computation and call log included).
#include "BenchSupport.h"

#include <cmath>

namespace {

using namespace kxbench;

void WorkerCpu(benchmark::State& state, bool fastReads) {
    RunningChannel running(8, 8, fastReads);
    const TaskClock& worker = running.Worker();
    if (!worker.Valid()) {
        state.SkipWithError("the worker thread was not found");
        return;
    }
    SleepMs(60);  // past the first passes
    double cpuNs = 0, wallNs = 0, passes = 0;
    for (auto _ : state) {
        const long s0 = worker.VoluntarySwitches();
        const std::int64_t c0 = worker.CpuNs();
        const std::int64_t w0 = NowNs();
        SleepMs(Seconds(3.0) * 1e3);
        const long s1 = worker.VoluntarySwitches();
        const std::int64_t c1 = worker.CpuNs();
        const std::int64_t w1 = NowNs();
        state.SetIterationTime(static_cast<double>(w1 - w0) / 1e9);
        cpuNs += static_cast<double>(c1 - c0);
        wallNs += static_cast<double>(w1 - w0);
        // Each pass ends in one sleep, the worker's only voluntary switch.
        passes += static_cast<double>(s1 - s0);
    }
    state.counters["cpu_percent"] = 100.0 * cpuNs / wallNs;
    state.counters["cpu_per_pass_us"] = passes > 0 ? cpuNs / passes / 1e3 : NAN;
    state.counters["passes"] = passes;
}

int Register() {
    for (bool fast : {true, false}) {
        benchmark::RegisterBenchmark(fast ? "WorkerCpu/open:8/reads:fast" : "WorkerCpu/open:8/reads:simulated",
                                     [fast](benchmark::State& s) { WorkerCpu(s, fast); })
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(Reps(5));
    }
    return 0;
}

const int registered = Register();

void Summarize(const Results& r, std::vector<Row>& rows) {
    for (const char* reads : {"fast", "simulated"}) {
        const std::string name = std::string("WorkerCpu/open:8/reads:") + reads;
        if (!r.Has(name)) continue;
        const double percent = r.Median(name, "cpu_percent");
        rows.push_back({Format("3. Worker CPU, 8 open suits, %s reads", reads),
                        Format("%.3f %% of one core (max of runs %.3f %%; %.1f us per pass)", percent,
                               r.Max(name, "cpu_percent"), r.Median(name, "cpu_per_pass_us")),
                        "< 0.5 % of one core", Verdict(percent < 0.5)});
    }
}

const int summarized = RegisterSummary(30, Summarize);

}  // namespace
