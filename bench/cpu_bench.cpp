// The worker's CPU use with 8 open suits: its own CPU clock over a window of
// a few seconds while this thread sleeps, against the wall clock. With the
// suit library's cheapest reads (the driver's own cost) and with its
// simulated ones (pose computation and call log included).
#include "BenchSupport.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>

namespace {

using namespace kxbench;

std::set<pid_t> ThreadIds() {
    std::set<pid_t> ids;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        ids.insert(std::stoi(task.path().filename()));
    }
    return ids;
}

// User and system time of a thread of this process, by its kernel id.
std::int64_t CpuNs(pid_t tid) {
    // The clock id pthread_getcpuclockid makes for a thread, from its kernel id.
    const clockid_t clock = static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6);
    timespec t;
    if (clock_gettime(clock, &t) != 0) return -1;
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Each pass ends in one sleep, the worker's only voluntary switch.
long VoluntarySwitches(pid_t tid) {
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    const std::string key = "voluntary_ctxt_switches:";
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, key.size(), key) == 0) return std::stol(line.substr(key.size()));
    }
    return -1;
}

void WorkerCpu(benchmark::State& state, bool fastReads) {
    const std::set<pid_t> before = ThreadIds();
    RunningChannel running(8, 8, fastReads);
    std::vector<pid_t> started;
    for (pid_t tid : ThreadIds()) {
        if (before.count(tid) == 0) started.push_back(tid);
    }
    if (started.size() != 1) return state.SkipWithError("the worker thread was not found");
    const pid_t worker = started[0];
    SleepMs(60);  // past the first passes
    double cpuNs = 0, wallNs = 0, passes = 0;
    for (auto _ : state) {
        const long s0 = VoluntarySwitches(worker);
        const std::int64_t c0 = CpuNs(worker), w0 = NowNs();
        SleepMs(Seconds(3.0) * 1e3);
        const long s1 = VoluntarySwitches(worker);
        const std::int64_t c1 = CpuNs(worker), w1 = NowNs();
        state.SetIterationTime(static_cast<double>(w1 - w0) / 1e9);
        cpuNs += static_cast<double>(c1 - c0);
        wallNs += static_cast<double>(w1 - w0);
        passes += static_cast<double>(s1 - s0);
    }
    state.counters["cpu_percent"] = 100.0 * cpuNs / wallNs;
    state.counters["cpu_per_pass_us"] = passes > 0 ? cpuNs / passes / 1e3 : NAN;
    state.counters["passes"] = passes;
}

const bool registered = [] {
    for (const char* reads : {"fast", "simulated"}) {
        const std::string name = std::string("WorkerCpu/open:8/reads:") + reads;
        const bool fast = reads[0] == 'f';
        Bench(name, 5, [fast](benchmark::State& s) { WorkerCpu(s, fast); });
        Figure(Format("3. Worker CPU, 8 open suits, %s reads", reads), "< 0.5 % of one core", [=](const Results& r) {
            const double percent = r.Median(name, "cpu_percent");
            return Measured{Format("%.3f %% of one core (max of runs %.3f %%; %.1f us per pass)", percent,
                                   r.Max(name, "cpu_percent"), r.Median(name, "cpu_per_pass_us")),
                            percent < 0.5};
        });
    }
    return true;
}();

}  // namespace
