#include "BenchSupport.h"

#include "host/EngineInterface.h"

#include <dirent.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>
#include <utility>

namespace kxbench {

std::int64_t NowNs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void SleepMs(double ms) {
    if (ms <= 0) return;
    const std::int64_t ns = static_cast<std::int64_t>(ms * 1e6);
    timespec duration{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (nanosleep(&duration, &duration) != 0) {
    }
}

bool Quick() {
    const char* quick = std::getenv("KX_BENCH_QUICK");
    return quick != nullptr && quick[0] != '\0' && std::strcmp(quick, "0") != 0;
}

int Reps(int full) { return Quick() ? std::max(2, full / 4) : full; }

double Seconds(double full) { return Quick() ? full / 4 : full; }

std::int64_t TaskClock::CpuNs() const {
    // The clock id pthread_getcpuclockid makes for a thread, from its kernel id.
    const clockid_t clock = static_cast<clockid_t>((~static_cast<unsigned>(tid_) << 3) | 6);
    timespec t;
    if (clock_gettime(clock, &t) != 0) return -1;
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

long TaskClock::VoluntarySwitches() const {
    std::ifstream status("/proc/self/task/" + std::to_string(tid_) + "/status");
    std::string line;
    const std::string key = "voluntary_ctxt_switches:";
    while (std::getline(status, line)) {
        if (line.compare(0, key.size(), key) == 0) return std::strtol(line.c_str() + key.size(), nullptr, 10);
    }
    return -1;
}

std::vector<pid_t> ThreadIds() {
    std::vector<pid_t> ids;
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr) return ids;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9') ids.push_back(std::atoi(entry->d_name));
    }
    closedir(dir);
    std::sort(ids.begin(), ids.end());
    return ids;
}

RunningChannel::RunningChannel(int suits, int open, bool fastReads) {
    KestrionSim::Reset();
    KestrionSim::SetSuitCount(suits);
    KestrionSim::SetFastReads(fastReads);
    const std::vector<pid_t> before = ThreadIds();
    channel_.Connect(open > 0 ? 0 : -1);
    for (int k = 1; k < open; ++k) channel_.Connect(k);
    const std::vector<pid_t> after = ThreadIds();
    std::vector<pid_t> started;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(started));
    if (started.size() == 1) worker_ = TaskClock(started[0]);
    for (int k = 0; k < open; ++k) WaitForSample(k);
    KestrionSim::ClearCalls();
}

RunningChannel::~RunningChannel() {
    channel_.Reset();
    KestrionSim::Reset();
}

bool RunningChannel::WaitForSample(int suit, int timeoutMs) {
    const std::int64_t deadline = NowNs() + std::int64_t(timeoutMs) * 1000000;
    for (;;) {
        Frame frame;
        std::memset(&frame, 0, sizeof frame);
        channel_.GetData(suit, frame);
        if (frame.leadWord != 0) return true;
        if (NowNs() > deadline) return false;
        SleepMs(0.5);
    }
}

Histogram::Histogram() : counts_(Bucket(INT64_MAX) + 1, 0) {}

std::size_t Histogram::Bucket(std::int64_t ns) {
    const auto v = static_cast<std::uint64_t>(ns);
    if (v < (1u << kExactBits)) return static_cast<std::size_t>(v);
    const int bits = 64 - __builtin_clzll(v);
    const std::uint64_t sub = (v >> (bits - 1 - kSubBits)) & ((1u << kSubBits) - 1);
    return (1u << kExactBits) + static_cast<std::size_t>(bits - kExactBits - 1) * (1u << kSubBits) + sub;
}

double Histogram::BucketValue(std::size_t bucket) {
    if (bucket < (1u << kExactBits)) return static_cast<double>(bucket);
    const std::size_t above = bucket - (1u << kExactBits);
    const int bits = static_cast<int>(above >> kSubBits) + kExactBits + 1;
    const std::uint64_t sub = above & ((1u << kSubBits) - 1);
    // The bucket's upper end: a quantile is never reported below its value.
    const std::uint64_t next = ((std::uint64_t(1) << kSubBits) + sub + 1) << (bits - 1 - kSubBits);
    return static_cast<double>(next - 1);
}

double Histogram::Quantile(double fraction) const {
    if (total_ == 0) return 0;
    const auto rank = static_cast<std::uint64_t>(std::ceil(fraction * static_cast<double>(total_)));
    std::uint64_t seen = 0;
    for (std::size_t b = 0; b < counts_.size(); ++b) {
        seen += counts_[b];
        if (seen >= rank && seen > 0) return std::min(BucketValue(b), static_cast<double>(max_));
    }
    return static_cast<double>(max_);
}

double Quantile(std::vector<double>& values, double fraction) {
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    std::size_t rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    if (rank < 1) rank = 1;
    return values[std::min(rank, values.size()) - 1];
}

std::vector<double> Results::Values(const std::string& name, const std::string& what) const {
    std::vector<double> values;
    auto found = runs_.find(name);
    if (found == runs_.end()) return values;
    for (const Sample& s : found->second) {
        if (what == "time") {
            values.push_back(s.timeNs);
        } else {
            auto counter = s.counters.find(what);
            if (counter != s.counters.end()) values.push_back(counter->second);
        }
    }
    return values;
}

double Results::Median(const std::string& name, const std::string& what) const {
    std::vector<double> values = Values(name, what);
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Results::Max(const std::string& name, const std::string& what) const {
    std::vector<double> values = Values(name, what);
    return values.empty() ? NAN : *std::max_element(values.begin(), values.end());
}

std::size_t Results::Repetitions(const std::string& name) const {
    auto found = runs_.find(name);
    return found == runs_.end() ? 0 : found->second.size();
}

namespace {

std::vector<std::pair<int, Summary>>& Summaries() {
    static std::vector<std::pair<int, Summary>> summaries;
    return summaries;
}

// The console output as usual, and every repetition kept for the summaries.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    CollectingReporter(OutputOptions options, Results* results)
        : benchmark::ConsoleReporter(options), results_(results) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        benchmark::ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
            Results::Sample sample;
            sample.timeNs = run.real_accumulated_time * 1e9 / static_cast<double>(run.iterations);
            for (const auto& counter : run.counters) sample.counters[counter.first] = counter.second.value;
            results_->Add(name, sample);
        }
    }

private:
    Results* results_;
};

void Silent(const char*, void*) {}

void PrintTable(const std::vector<Row>& rows) {
    const Row header{"figure", "measured (medians of repetitions)", "target", "verdict", ""};
    std::size_t w[3] = {header.figure.size(), header.measured.size(), header.target.size()};
    for (const Row& r : rows) {
        w[0] = std::max(w[0], r.figure.size());
        w[1] = std::max(w[1], r.measured.size());
        w[2] = std::max(w[2], r.target.size());
    }
    std::vector<std::string> notes;
    auto print = [&](const Row& r) {
        std::string verdict = r.verdict;
        if (!r.note.empty()) {
            auto found = std::find(notes.begin(), notes.end(), r.note);
            if (found == notes.end()) found = notes.insert(notes.end(), r.note);
            verdict += " (" + std::to_string(found - notes.begin() + 1) + ")";
        }
        std::printf("%-*s | %-*s | %-*s | %s\n", int(w[0]), r.figure.c_str(), int(w[1]), r.measured.c_str(),
                    int(w[2]), r.target.c_str(), verdict.c_str());
    };
    std::printf("\n");
    print(header);
    std::printf("%s\n", std::string(w[0] + w[1] + w[2] + 18, '-').c_str());
    for (const Row& r : rows) print(r);
    for (std::size_t i = 0; i < notes.size(); ++i) std::printf("(%zu) %s\n", i + 1, notes[i].c_str());
}

}  // namespace

int RegisterSummary(int order, Summary summary) {
    Summaries().emplace_back(order, summary);
    return 0;
}

std::string Format(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string Verdict(bool met) { return met ? "met" : "MISSED"; }

}  // namespace kxbench

int main(int argc, char** argv) {
    // The driver's start and stop messages would only disturb the timings.
    OrvSetDebugSink(&kxbench::Silent, nullptr);

    // Repetitions of different benchmarks run in random order, so slow drifts
    // of a noisy machine fall on all of them alike.
    std::vector<char*> args(argv, argv + argc);
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    bool interleaveGiven = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--benchmark_enable_random_interleaving", 38) == 0) interleaveGiven = true;
    }
    if (!interleaveGiven) args.insert(args.begin() + 1, interleave);
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

    kxbench::Results results;
    const auto options = isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                               : benchmark::ConsoleReporter::OO_Tabular;
    kxbench::CollectingReporter reporter(options, &results);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto summaries = kxbench::Summaries();
    std::stable_sort(summaries.begin(), summaries.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<kxbench::Row> rows;
    for (const auto& s : summaries) s.second(results, rows);
    if (rows.empty()) return 0;
    kxbench::PrintTable(rows);
    if (const char* path = std::getenv("KX_BENCH_TABLE")) {
        if (FILE* out = std::fopen(path, "a")) {
            for (const kxbench::Row& r : rows) {
                std::fprintf(out, "%s\t%s\t%s\t%s\t%s\n", r.figure.c_str(), r.measured.c_str(), r.target.c_str(),
                             r.verdict.c_str(), r.note.c_str());
            }
            std::fclose(out);
        }
    }
    return 0;
}
