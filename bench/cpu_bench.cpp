// The worker's CPU use with 8 open suits: the process's CPU time less this
// thread's, over a window of a few seconds while this thread sleeps (the
// worker being the only other thread), against the wall clock. With the
// suit library's cheapest reads (the driver's own cost) and with its
// simulated ones (pose computation and call log included).
#include "BenchSupport.h"

#include <sys/resource.h>

#include <cmath>
#include <filesystem>

namespace {

using namespace kxbench;

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
    for (auto _ : state) {
        const auto [cpu0, passes0] = Others();
        const std::int64_t start = NowNs();
        SleepMs(Seconds(3.0) * 1e3);
        const auto [cpu1, passes1] = Others();
        const auto wall = static_cast<double>(NowNs() - start);
        state.SetIterationTime(wall / 1e9);
        state.counters["cpu_percent"] = 100.0 * (cpu1 - cpu0) / wall;
        state.counters["cpu_per_pass_us"] = passes1 > passes0 ? (cpu1 - cpu0) / (passes1 - passes0) / 1e3 : NAN;
    }
}

const bool registered = [] {
    for (const char* reads : {"fast", "simulated"}) {
        const std::string name = std::string("WorkerCpu/open:8/reads:") + reads;
        Bench(name, 5, [fast = reads[0] == 'f'](State& s) { WorkerCpu(s, fast); });
        Figure(Format("3. Worker CPU, 8 open suits, %s reads", reads), "< 0.5 % of one core", [=](const Results& r) {
            const double percent = r.Median(name, "cpu_percent");
            return Measured(Format("%.3f %% of one core (%.1f us per pass)", percent, r.Median(name, "cpu_per_pass_us")),
                            percent < 0.5);
        });
    }
    return true;
}();

}  // namespace
