#include "BenchSupport.h"

#include "host/EngineInterface.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace kxbench {

std::int64_t NowNs(clockid_t clock) {
    timespec now;
    clock_gettime(clock, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// nanosleep, not clock_nanosleep: kx_bench_pass stamps the plug-in's calls of the latter.
void SleepMs(double ms) {
    const auto ns = static_cast<std::int64_t>(ms * 1e6);
    timespec duration{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (ns > 0 && nanosleep(&duration, &duration) != 0) {
    }
}

void SleepUntilNs(std::int64_t ns) {
    const timespec at{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

static bool Quick() {
    const char* quick = std::getenv("KX_BENCH_QUICK");
    return quick != nullptr && quick[0] != '\0' && std::strcmp(quick, "0") != 0;
}

double Seconds(double full) { return Quick() ? full / 4 : full; }

double Quantile(std::vector<double>& values, double fraction) {
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

pthread_mutex_t* DriverKindMutex(bool shared) {
    static pthread_mutex_t* made[2] = {};
    if (made[shared] != nullptr) return made[shared];
    auto* mutex = static_cast<pthread_mutex_t*>(
        mmap(nullptr, sizeof(pthread_mutex_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    pthread_mutexattr_t a;
    pthread_mutexattr_init(&a);
    pthread_mutexattr_settype(&a, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setrobust(&a, PTHREAD_MUTEX_ROBUST);
    if (shared) pthread_mutexattr_setpshared(&a, PTHREAD_PROCESS_SHARED);
    pthread_mutex_init(mutex, &a);
    pthread_mutexattr_destroy(&a);
    return made[shared] = mutex;
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

RunningChannel::RunningChannel(int suits, int open, bool fastReads) {
    KestrionSim::Reset();
    KestrionSim::SetSuitCount(suits);
    KestrionSim::SetFastReads(fastReads);
    channel.Connect(open > 0 ? 0 : -1);
    for (int k = 1; k < open; ++k) channel.Connect(k);
    for (int k = 0; k < open; ++k) {
        Frame frame{};
        const std::int64_t end = NowNs() + 2000000000;
        while ((channel.GetData(k, frame), frame.leadWord == 0) && NowNs() < end) SleepMs(0.5);
    }
    KestrionSim::ClearCalls();
}

RunningChannel::~RunningChannel() {
    channel.Reset();
    KestrionSim::Reset();
}

static benchmark::internal::Benchmark* Register(const std::string& name, int reps, std::function<void(State&)> body) {
    auto* b = benchmark::RegisterBenchmark(name.c_str(), [body](State& s) { body(s); });
    return b->Repetitions(Quick() ? std::min(reps, std::max(2, reps / 4)) : reps);
}

void Bench(const std::string& name, int reps, std::function<void(State&)> once) {
    Register(name, reps, [once](State& state) {
        for (auto _ : state) {
            const std::int64_t start = NowNs();
            once(state);
            state.SetIterationTime(static_cast<double>(NowNs() - start) / 1e9);
        }
    })->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
}

void Loop(const std::string& name, int reps, double seconds, std::function<void(State&)> body) {
    Register(name, reps, std::move(body))->MinTime(Seconds(seconds));
}

double Results::Median(const std::string& name, const std::string& what) const {
    std::vector<double> v = runs.at(name).at(what);
    const std::size_t n = v.size();
    std::sort(v.begin(), v.end());
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Results::Max(const std::string& name, const std::string& what) const {
    const std::vector<double>& v = runs.at(name).at(what);
    return *std::max_element(v.begin(), v.end());
}

struct Row {
    std::string name, target;
    std::function<Measured(const Results&)> measure;
};

static std::vector<Row>& Rows() {
    static std::vector<Row> rows;
    return rows;
}

void Figure(const std::string& name, const std::string& target, std::function<Measured(const Results&)> measure) {
    Rows().push_back({name, target, std::move(measure)});
}

std::string Format(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string Suits(int n, const char* what) { return Format("%d %s%s", n, what, n == 1 ? "" : "s"); }

// The console output as usual, and every repetition kept for the figures.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    using ConsoleReporter::ConsoleReporter;
    Results results;

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
            auto& values = results.runs[name];
            values["time"].push_back(run.real_accumulated_time * 1e9 / static_cast<double>(run.iterations));
            for (const auto& counter : run.counters) values[counter.first].push_back(counter.second.value);
        }
    }
};

}  // namespace kxbench

int main(int argc, char** argv) {
    using namespace kxbench;
    // The driver's start and stop messages would only disturb the timings.
    OrvSetDebugSink([](const char*, void*) {}, nullptr);

    // Repetitions of different benchmarks run in random order, so slow drifts
    // of a noisy machine fall on all of them alike (a later argument overrides).
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> args(argv, argv + argc);
    args.insert(args.begin() + 1, interleave);
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    CollectingReporter reporter(isatty(STDOUT_FILENO) ? CollectingReporter::OO_ColorTabular
                                                      : CollectingReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::vector<Row>& rows = Rows();
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return std::atoi(a.name.c_str()) < std::atoi(b.name.c_str()); });
    // One line a figure, which scripts/bench.sh gathers into one table.
    const char* path = std::getenv("KX_BENCH_TABLE");
    FILE* table = path != nullptr ? std::fopen(path, "a") : nullptr;
    for (const Row& row : rows) {
        try {
            const Measured m = row.measure(reporter.results);
            const char* verdict = !m.met ? "-" : *m.met ? "met" : "MISSED";
            std::fprintf(table != nullptr ? table : stdout, "%s\t%s\t%s\t%s\t%s\n", row.name.c_str(), m.text.c_str(),
                         row.target.c_str(), verdict, m.note.c_str());
        } catch (const std::out_of_range&) {
            // its benchmark did not run (filtered out)
        }
    }
    return 0;
}
