// What the benchmark programs share: clocks, a running channel on the
// scripted suit library, and the registration of benchmarks and of the
// figures that set their results beside a target once all have run.
//
// A figure with a target, in a benchmark file:
//   const bool registered = [] {
//       Loop("Thing", 12, 0.2, Thing);
//       Figure("7. Thing, median", "< 5 us", [](const Results& r) {
//           const double ns = r.Median("Thing");
//           return Measured{Format("%.1f us", ns / 1e3), ns < 5000};
//       });
//       return true;
//   }();
// A figure without one returns its text alone.
#pragma once

#include "driver/Frame.h"
#include "kestrion/KestrionSim.h"
#include "plugin/KestrionUnique.h"

#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <pthread.h>
#include <time.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kxbench {

using benchmark::State;

// The clock's reading in nanoseconds: the monotonic clock, or a CPU clock.
std::int64_t NowNs(clockid_t clock = CLOCK_MONOTONIC);
void SleepMs(double ms);
// Sleeps until the monotonic clock reads `ns`.
void SleepUntilNs(std::int64_t ns);
// KX_BENCH_QUICK=1 shortens every run: a smoke test, not figures to quote.
double Seconds(double full);

// Nearest rank; sorts `values`. NaN for none.
double Quantile(std::vector<double>& values, double fraction);

// A mutex of the driver mutex's kind (robust, recursive), in a shared
// mapping; process-shared when `shared`, as the driver's own is. One of each
// kind, made on first use.
pthread_mutex_t* DriverKindMutex(bool shared);

sockaddr_in Loopback(int port);

// `suits` suits, the first `open` of them connected, each with its first
// sample read. With `open` 0 the driver runs and reads nothing.
struct RunningChannel {
    RunningChannel(int suits, int open, bool fastReads);
    ~RunningChannel();
    KestrionUnique channel;
};

// Repeated `reps` times (fewer when quick), each repetition one call of
// `once`, its wall time shown in ms; its figures are its counters.
void Bench(const std::string& name, int reps, std::function<void(State&)> once);
// Repeated `reps` times, each repetition as many iterations as fill
// `seconds`, timed by the library.
void Loop(const std::string& name, int reps, double seconds, std::function<void(State&)> body);

// Every repetition of every benchmark that ran: "time" (ns per iteration)
// and the counters, by benchmark and counter. Asking for one that did not
// run throws std::out_of_range, which leaves the figure out of the table.
struct Results {
    std::map<std::string, std::map<std::string, std::vector<double>>> runs;
    double Median(const std::string& name, const std::string& what = "time") const;
    double Max(const std::string& name, const std::string& what = "time") const;
    std::size_t Repetitions(const std::string& name) const { return runs.at(name).at("time").size(); }
};

struct Measured {
    Measured(std::string text, std::optional<bool> met = {}, std::string note = {})
        : text(std::move(text)), met(met), note(std::move(note)) {}
    std::string text;
    std::optional<bool> met;  // none for a figure without a target
    // Why the figure misses its target, when the cause is known.
    std::string note;
};

// A row of the table: figures are ordered by the number their name starts
// with, then as registered.
void Figure(const std::string& name, const std::string& target, std::function<Measured(const Results&)> measure);

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "1 suit", "16 suits"
std::string Suits(int n, const char* what = "suit");

}  // namespace kxbench
