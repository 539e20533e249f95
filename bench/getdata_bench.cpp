// GetData of one suit against its floor: a bare lock, 240-byte copy and
// unlock of the same kind of mutex (robust, recursive, process-private),
// with the driver idle and while its worker polls 1, 16 and 64 open suits
// with the suit library's simulated reads.
#include "BenchSupport.h"

#include <pthread.h>

#include <cstring>
#include <memory>

namespace {

using namespace kxbench;

const int kPolled[] = {1, 16, 64};

pthread_mutex_t* NewRobustRecursiveMutex() {
    auto* m = new pthread_mutex_t;
    pthread_mutexattr_t a;
    pthread_mutexattr_init(&a);
    pthread_mutexattr_settype(&a, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setrobust(&a, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(m, &a);
    pthread_mutexattr_destroy(&a);
    return m;
}

void Floor(benchmark::State& state) {
    pthread_mutex_t* mutex = NewRobustRecursiveMutex();
    auto shared = std::make_unique<Frame>();
    std::memset(shared.get(), 0x5A, sizeof(Frame));
    Frame out;
    for (auto _ : state) {
        pthread_mutex_lock(mutex);
        std::memcpy(&out, shared.get(), sizeof out);
        pthread_mutex_unlock(mutex);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    pthread_mutex_destroy(mutex);
    delete mutex;
}

// polled 0: the driver runs, suit 0 was read once and disconnected, so the
// worker's passes read nothing.
std::unique_ptr<RunningChannel> Setup(int polled) {
    auto running = std::make_unique<RunningChannel>(polled > 0 ? polled : 1, polled > 0 ? polled : 1, false);
    if (polled == 0) running->Channel().Disconnect(0);
    return running;
}

void GetData(benchmark::State& state, int polled) {
    auto running = Setup(polled);
    KestrionUnique& channel = running->Channel();
    Frame out;
    for (auto _ : state) {
        channel.GetData(0, out);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
}

// Each call timed on its own; the figures include one clock read (clock_ns).
void GetDataLatency(benchmark::State& state, int polled) {
    auto running = Setup(polled);
    KestrionUnique& channel = running->Channel();
    Histogram clock;
    for (int i = 0; i < 100000; ++i) {
        const std::int64_t t0 = NowNs();
        clock.Add(NowNs() - t0);
    }
    Histogram calls;
    Frame out;
    double over20us = 0;
    for (auto _ : state) {
        const std::int64_t t0 = NowNs();
        channel.GetData(0, out);
        const std::int64_t took = NowNs() - t0;
        calls.Add(took);
        if (took >= 20000) ++over20us;
        benchmark::DoNotOptimize(out);
    }
    state.counters["p50_ns"] = calls.Quantile(0.50);
    state.counters["p99_ns"] = calls.Quantile(0.99);
    state.counters["p999_ns"] = calls.Quantile(0.999);
    state.counters["max_ns"] = static_cast<double>(calls.Max());
    state.counters["calls"] = static_cast<double>(calls.Count());
    state.counters["over_20us"] = over20us;
    state.counters["clock_ns"] = clock.Quantile(0.5);
}

std::string ConfigName(int polled) { return polled == 0 ? "idle" : "polled:" + std::to_string(polled); }

int Register() {
    benchmark::RegisterBenchmark("GetData/floor", Floor)->Repetitions(Reps(12))->MinTime(Seconds(0.2));
    for (int polled : {0, 1, 16, 64}) {
        benchmark::RegisterBenchmark(("GetData/" + ConfigName(polled)).c_str(),
                                     [polled](benchmark::State& s) { GetData(s, polled); })
            ->Repetitions(Reps(12))
            ->MinTime(Seconds(0.2));
    }
    for (int polled : {0, 1, 16, 64}) {
        benchmark::RegisterBenchmark(("GetDataLatency/" + ConfigName(polled)).c_str(),
                                     [polled](benchmark::State& s) { GetDataLatency(s, polled); })
            ->Repetitions(Reps(5))
            ->MinTime(Seconds(1.0));
    }
    return 0;
}

const int registered = Register();

void Summarize(const Results& r, std::vector<Row>& rows) {
    if (!r.Has("GetData/floor")) return;
    const double floor = r.Median("GetData/floor", "time");
    rows.push_back({"1. GetData floor: lock + 240 B copy + unlock", Format("%.1f ns", floor), "-", "-"});
    for (int polled : {0, 1, 16, 64}) {
        const std::string name = "GetData/" + ConfigName(polled);
        if (!r.Has(name)) continue;
        const double t = r.Median(name, "time");
        const double ratio = t / floor;
        rows.push_back({polled == 0 ? std::string("1. GetData median, driver idle")
                                    : Format("1. GetData median, polling %d suit%s", polled, polled == 1 ? "" : "s"),
                        Format("%.1f ns = %.2f x floor", t, ratio), "<= 1.5 x floor", Verdict(ratio <= 1.5)});
    }
    for (int polled : {0, 1, 16, 64}) {
        const std::string name = "GetDataLatency/" + ConfigName(polled);
        if (!r.Has(name)) continue;
        const double p99 = r.Median(name, "p99_ns");
        rows.push_back({polled == 0 ? std::string("1. GetData p99, driver idle")
                                    : Format("1. GetData p99, polling %d suit%s", polled, polled == 1 ? "" : "s"),
                        Format("p99 %.2f us, p99.9 %.2f us; %.1f calls in 10^6 over 20 us, longest %.1f ms "
                               "(clock read %.0f ns included)",
                               p99 / 1e3, r.Median(name, "p999_ns") / 1e3,
                               1e6 * r.Median(name, "over_20us") / r.Median(name, "calls"), r.Max(name, "max_ns") / 1e6,
                               r.Median(name, "clock_ns")),
                        polled == 0 ? "-" : "p99 < 20 us", polled == 0 ? "-" : Verdict(p99 < 20000)});
    }
}

const int summarized = RegisterSummary(10, Summarize);

}  // namespace
