// What the benchmark programs share: clocks, a running channel on the
// scripted suit library, and the registration of benchmarks and of the
// figures that set their results beside a target once all have run.
//
// A figure with a target, in a benchmark file:
//   const bool registered = [] {
//       Bench("Thing", Thing, 12, 0.2);
//       Figure("7. Thing, median", "< 5 us", [](const Results& r) {
//           const double ns = r.Median("Thing");
//           return Measured{Format("%.1f us", ns / 1e3), ns < 5000};
//       });
//       return true;
//   }();
#pragma once

#include "driver/Frame.h"
#include "kestrion/KestrionSim.h"
#include "plugin/KestrionUnique.h"

#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kxbench {

// Monotonic clock, nanoseconds.
std::int64_t NowNs();
void SleepMs(double ms);
// KX_BENCH_QUICK=1 shortens every run: a smoke test, not figures to quote.
double Seconds(double full);

// Nearest rank; sorts `values`. NaN for none.
double Quantile(std::vector<double>& values, double fraction);

// A mutex of the driver mutex's kind (robust, recursive); when `shared`,
// process-shared in a shared mapping, as the driver's own is.
pthread_mutex_t* NewDriverKindMutex(bool shared);

// `suits` suits, the first `open` of them connected, each with its first
// sample read. With `open` 0 the driver runs and reads nothing.
struct RunningChannel {
    RunningChannel(int suits, int open, bool fastReads);
    ~RunningChannel();
    KestrionUnique channel;
    pid_t worker = 0;  // its kernel thread id; 0 if not found
};

// Repeated `reps` times (fewer when quick). With `minSeconds` 0, each
// repetition is one iteration whose time the body sets, in ms; otherwise the
// library times as many iterations as fill `minSeconds`.
benchmark::internal::Benchmark* Bench(const std::string& name, std::function<void(benchmark::State&)> body,
                                      int reps, double minSeconds = 0);

// Every repetition of every benchmark that ran: "time" (ns per iteration)
// and the counters. Asking for a benchmark that did not run throws
// std::out_of_range, which leaves the figure out of the table.
class Results {
public:
    std::map<std::string, std::vector<std::map<std::string, double>>> runs;
    std::vector<double> Values(const std::string& name, const std::string& what) const;
    double Median(const std::string& name, const std::string& what = "time") const;
    double Max(const std::string& name, const std::string& what = "time") const;
    std::size_t Repetitions(const std::string& name) const { return runs.at(name).size(); }
};

struct Measured {
    std::string text;
    std::optional<bool> met = {};  // none for a figure without a target
    // Why the figure misses its target, when the cause is known.
    std::string note = {};
};

// A row of the table: figures are ordered by the number their name starts
// with, then as registered.
void Figure(const std::string& name, const std::string& target, std::function<Measured(const Results&)> measure);

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "1 suit", "16 suits"
std::string Suits(int n, const char* what = "suit");

}  // namespace kxbench
