// What the benchmark programs share: a channel on the scripted suit library
// with its worker found by thread id, the worker's CPU clock and sleep count,
// a latency histogram, and the summary table that sets every figure beside
// its target once all benchmarks have run.
#pragma once

#include "driver/Frame.h"
#include "kestrion/KestrionSim.h"
#include "plugin/KestrionUnique.h"

#include <benchmark/benchmark.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kxbench {

// Monotonic clock, nanoseconds.
std::int64_t NowNs();
void SleepMs(double ms);

// KX_BENCH_QUICK=1 shortens every run (a smoke test of the programs, not
// figures to quote).
bool Quick();
int Reps(int full);
double Seconds(double full);

// A kernel thread of this process, looked at from another thread.
class TaskClock {
public:
    TaskClock() = default;
    explicit TaskClock(pid_t tid) : tid_(tid) {}
    bool Valid() const { return tid_ > 0; }
    pid_t Tid() const { return tid_; }
    // The thread's CPU time (user and system), nanoseconds.
    std::int64_t CpuNs() const;
    // How often the thread gave up the CPU of its own accord (each of the
    // worker's sleeps is one; an uncontended pass never blocks).
    long VoluntarySwitches() const;

private:
    pid_t tid_ = 0;
};

std::vector<pid_t> ThreadIds();

// A channel connected to the scripted suit library: `suits` suits, the first
// `open` of them connected, each with its first sample read. With `open` 0
// the driver runs and reads nothing.
class RunningChannel {
public:
    RunningChannel(int suits, int open, bool fastReads);
    ~RunningChannel();
    RunningChannel(const RunningChannel&) = delete;
    RunningChannel& operator=(const RunningChannel&) = delete;

    KestrionUnique& Channel() { return channel_; }
    const TaskClock& Worker() const { return worker_; }
    // Waits until the suit's frame holds a sample (the worker read it).
    bool WaitForSample(int suit, int timeoutMs = 2000);

private:
    KestrionUnique channel_;
    TaskClock worker_;
};

// Latencies in nanoseconds: exact below 16 us, within 1/128 above.
class Histogram {
public:
    Histogram();
    void Add(std::int64_t ns) {
        if (ns < 0) ns = 0;
        ++counts_[Bucket(ns)];
        ++total_;
        if (ns > max_) max_ = ns;
    }
    // The smallest value with at least `fraction` of the samples at or below it.
    double Quantile(double fraction) const;
    std::int64_t Max() const { return max_; }
    std::uint64_t Count() const { return total_; }

private:
    static constexpr int kExactBits = 14;
    static constexpr int kSubBits = 7;
    static std::size_t Bucket(std::int64_t ns);
    static double BucketValue(std::size_t bucket);
    std::vector<std::uint64_t> counts_;
    std::uint64_t total_ = 0;
    std::int64_t max_ = 0;
};

// Quantile of a sample set (nearest rank); `values` is sorted in place.
double Quantile(std::vector<double>& values, double fraction);

// Every repetition of every benchmark of the run, by name.
class Results {
public:
    struct Sample {
        double timeNs = 0;  // real (or manual) time per iteration
        std::map<std::string, double> counters;
    };
    void Add(const std::string& name, const Sample& sample) { runs_[name].push_back(sample); }
    bool Has(const std::string& name) const { return runs_.count(name) != 0; }
    // "time" or a counter's name, one value per repetition.
    std::vector<double> Values(const std::string& name, const std::string& what) const;
    double Median(const std::string& name, const std::string& what) const;
    double Max(const std::string& name, const std::string& what) const;
    std::size_t Repetitions(const std::string& name) const;

private:
    std::map<std::string, std::vector<Sample>> runs_;
};

struct Row {
    std::string figure;
    std::string measured;
    std::string target;
    // "met", "MISSED", or "-" for a figure without a target.
    std::string verdict;
    // Why a figure misses its target, when the cause is known; printed under the table.
    std::string note = {};
};

typedef void (*Summary)(const Results& results, std::vector<Row>& rows);
// Summaries run in `order` once every benchmark has run.
int RegisterSummary(int order, Summary summary);

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Verdict(bool met);

}  // namespace kxbench
