// The polling pass: what the worker spends per open suit beyond the GyroRead
// call itself, with the suit library's cheapest reads (one 240-byte copy).
//
// The worker's CPU clock per pass is no use here: on a virtual machine the
// 25 ms sleep and wake-up cost 25 to 40 us of CPU per pass and vary by
// several us between runs, which buries tens of ns per suit. So the pass is
// timed from inside the worker. This program defines GyroRead and
// clock_nanosleep itself; the dynamic linker binds the plug-in's calls to
// these definitions, which stamp the time stamp counter on entry and exit
// and forward to the real functions. A pass runs from the return of one
// Sleep(25)'s kernel wait to the entry of the next, and splits into
//   the reads:          their stamped time, GyroRead's own;
//   between two reads:  the record's frame unlock, the next record's open
//                       check and frame lock (per suit, for 2 suits or more);
//   the fixed cost:     everything else: the running check, the driver lock
//                       and unlock, and the calls of Sleep around its kernel
//                       wait (a clock read for the deadline, two cancel-state
//                       switches), which the figure therefore overstates a
//                       little;
// each less the stamps' own cost. Every pass is timed alone and the median
// pass taken, so a preempted pass does not count. Beside it, the floor of a
// pass: a thread waking from the same sleep to lock and unlock a mutex of
// the driver mutex's kind.
#include "BenchSupport.h"

#include "driver/Gyro.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sys/mman.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

namespace {

enum Kind : std::uint32_t { kSleepIn, kSleepOut, kReadIn, kReadOut };

struct Stamp {
    std::uint64_t ticks;
    Kind kind;
};

// Written by the worker alone while recording; read after it has ended.
constexpr std::size_t kCapacity = std::size_t(1) << 18;
Stamp stamps[kCapacity];
std::atomic<bool> recording{false};
std::atomic<std::size_t> used{0};

inline std::uint64_t Ticks() {
#if defined(__x86_64__) || defined(__i386__)
    return __rdtsc();
#else
    return static_cast<std::uint64_t>(kxbench::NowNs());
#endif
}

inline void Mark(Kind kind) {
    if (!recording.load(std::memory_order_relaxed)) return;
    const std::size_t i = used.load(std::memory_order_relaxed);
    if (i >= kCapacity) return;
    stamps[i] = Stamp{Ticks(), kind};
    used.store(i + 1, std::memory_order_relaxed);
}

typedef int (*SleepFunction)(clockid_t, int, const timespec*, timespec*);
typedef int (*ReadFunction)(GyroHandle, Frame*);
const SleepFunction realSleep = reinterpret_cast<SleepFunction>(dlsym(RTLD_NEXT, "clock_nanosleep"));
const ReadFunction realRead = reinterpret_cast<ReadFunction>(dlsym(RTLD_NEXT, "GyroRead"));

}  // namespace

// Visible from the program, so that the plug-in's calls bind to them.
extern "C" __attribute__((visibility("default"))) int clock_nanosleep(clockid_t clock, int flags,
                                                                      const timespec* request, timespec* remain) {
    Mark(kSleepIn);
    const int rc = realSleep(clock, flags, request, remain);
    Mark(kSleepOut);
    return rc;
}

extern "C" __attribute__((visibility("default"))) int GyroRead(GyroHandle suit, Frame* frame) {
    Mark(kReadIn);
    const int rc = realRead(suit, frame);
    Mark(kReadOut);
    return rc;
}

namespace {

using namespace kxbench;

const int kSuits[] = {1, 8, 64, 512};

// The cost of one stamp, as it falls between two others.
double StampTicks() {
    recording = true;
    std::vector<double> gaps;
    for (int round = 0; round < 200; ++round) {
        used = 0;
        for (int i = 0; i < 64; ++i) Mark(kReadIn);
        for (int i = 1; i < 64; ++i) gaps.push_back(static_cast<double>(stamps[i].ticks - stamps[i - 1].ticks));
    }
    recording = false;
    used = 0;
    return Quantile(gaps, 0.5);
}

void PollingPass(benchmark::State& state, int open) {
    const double stampTicks = StampTicks();
    std::vector<double> passNs, readsNs, beyondNs, fixedNs, betweenNs;
    double heldUp = 0;
    {
        RunningChannel running(open > 0 ? open : 1, open, true);
        SleepMs(60);  // past the first passes
        std::uint64_t tick0 = 0, tick1 = 0;
        std::int64_t ns0 = 0, ns1 = 0;
        for (auto _ : state) {
            used = 0;
            tick0 = Ticks();
            ns0 = NowNs();
            recording = true;
            SleepMs(Seconds(2.0) * 1e3);
            recording = false;
            tick1 = Ticks();
            ns1 = NowNs();
            state.SetIterationTime(static_cast<double>(ns1 - ns0) / 1e9);
        }
        running.Channel().Reset();  // the worker has ended: its stamps are all in

        const double ticksPerNs = static_cast<double>(tick1 - tick0) / static_cast<double>(ns1 - ns0);
        auto ns = [&](double ticks) { return ticks / ticksPerNs; };
        const std::size_t n = used;
        // Whole passes only: a wake-up, exactly `open` reads, the next sleep.
        for (std::size_t i = 0; i < n; ++i) {
            if (stamps[i].kind != kSleepOut) continue;
            std::size_t j = i + 1;
            double reads = 0, between = 0;
            int count = 0;
            while (j + 1 < n && stamps[j].kind == kReadIn && stamps[j + 1].kind == kReadOut) {
                reads += static_cast<double>(stamps[j + 1].ticks - stamps[j].ticks);
                if (count > 0) between += static_cast<double>(stamps[j].ticks - stamps[j - 1].ticks) - stampTicks;
                ++count;
                j += 2;
            }
            if (j >= n || stamps[j].kind != kSleepIn || count != open) continue;
            const double pass = static_cast<double>(stamps[j].ticks - stamps[i].ticks);
            // Waiting for "KestrionMutex" while another process's driver holds it.
            if (ns(pass) > 1e6) ++heldUp;
            const double beyond = pass - reads - (open + 1) * stampTicks;
            passNs.push_back(ns(pass));
            readsNs.push_back(ns(reads));
            beyondNs.push_back(ns(beyond));
            fixedNs.push_back(ns(beyond - between));
            if (open > 1) betweenNs.push_back(ns(between) / (open - 1));
            i = j - 1;
        }
        state.counters["stamp_ns"] = ns(stampTicks);
    }
    if (beyondNs.empty()) {
        state.SkipWithError("no whole pass was stamped");
        return;
    }
    state.counters["passes"] = static_cast<double>(beyondNs.size());
    state.counters["held_up"] = heldUp;
    state.counters["pass_ns"] = Quantile(passNs, 0.5);
    state.counters["reads_ns"] = Quantile(readsNs, 0.5);
    state.counters["beyond_ns"] = Quantile(beyondNs, 0.5);
    state.counters["fixed_ns"] = Quantile(fixedNs, 0.5);
    if (!betweenNs.empty()) state.counters["between_ns"] = Quantile(betweenNs, 0.5);
}

// The floor of a pass: a thread that wakes from the same 25 ms sleep, takes
// and releases a mutex of the driver mutex's kind (robust, recursive,
// process-shared, in a shared mapping) and computes its next deadline,
// timed from its wake-up to its next sleep; and the same lock and unlock
// with nothing between them (warm).
void PassFloor(benchmark::State& state) {
    void* mapping = mmap(nullptr, sizeof(pthread_mutex_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    auto* mutex = static_cast<pthread_mutex_t*>(mapping);
    pthread_mutexattr_t a;
    pthread_mutexattr_init(&a);
    pthread_mutexattr_settype(&a, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutexattr_setrobust(&a, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_setpshared(&a, PTHREAD_PROCESS_SHARED);
    pthread_mutex_init(mutex, &a);
    pthread_mutexattr_destroy(&a);

    std::vector<double> cold, warm;
    double ticksPerNs = 1;
    for (auto _ : state) {
        const std::uint64_t tick0 = Ticks();
        const std::int64_t ns0 = NowNs();
        const int passes = static_cast<int>(Seconds(2.0) / 0.025);
        std::thread sleeper([&] {
            timespec deadline;
            clock_gettime(CLOCK_MONOTONIC, &deadline);
            for (int i = 0; i < passes; ++i) {
                deadline.tv_nsec += 25000000;
                if (deadline.tv_nsec >= 1000000000) {
                    deadline.tv_nsec -= 1000000000;
                    ++deadline.tv_sec;
                }
                realSleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
                const std::uint64_t woke = Ticks();
                pthread_mutex_lock(mutex);
                pthread_mutex_unlock(mutex);
                timespec next;
                clock_gettime(CLOCK_MONOTONIC, &next);
                benchmark::DoNotOptimize(next);
                cold.push_back(static_cast<double>(Ticks() - woke));
                const std::uint64_t t0 = Ticks();
                pthread_mutex_lock(mutex);
                pthread_mutex_unlock(mutex);
                warm.push_back(static_cast<double>(Ticks() - t0));
            }
        });
        sleeper.join();
        const std::int64_t ns1 = NowNs();
        ticksPerNs = static_cast<double>(Ticks() - tick0) / static_cast<double>(ns1 - ns0);
        state.SetIterationTime(static_cast<double>(ns1 - ns0) / 1e9);
    }
    state.counters["cold_ns"] = Quantile(cold, 0.5) / ticksPerNs;
    state.counters["warm_ns"] = Quantile(warm, 0.5) / ticksPerNs;
    pthread_mutex_destroy(mutex);
    munmap(mapping, sizeof(pthread_mutex_t));
}

int Register() {
    benchmark::RegisterBenchmark("PassFloor", PassFloor)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(Reps(5));
    for (int open : {0, 1, 8, 64, 512}) {
        benchmark::RegisterBenchmark(("PollingPass/open:" + std::to_string(open)).c_str(),
                                     [open](benchmark::State& s) { PollingPass(s, open); })
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(Reps(5));
    }
    return 0;
}

const int registered = Register();

// Why a pass over a few suits costs microseconds per suit.
const char* const kColdPass =
    "each pass starts with caches and TLB gone cold in the 25 ms pause, which is fixed: the wake-up alone "
    "(pass floor) costs microseconds, shared out over few suits, and a record's cache lines are cold again; "
    "the cost of each further suit is the slope";

void Summarize(const Results& r, std::vector<Row>& rows) {
    double floor = NAN;
    if (r.Has("PassFloor")) {
        floor = r.Median("PassFloor", "cold_ns");
        rows.push_back({"2. Pass floor: wake-up from a 25 ms sleep + lock + unlock",
                        Format("%.1f us (the same lock + unlock, warm: %.0f ns)", floor / 1e3,
                               r.Median("PassFloor", "warm_ns")),
                        "-", "-"});
    }
    if (r.Has("PollingPass/open:0")) {
        const double fixed = r.Median("PollingPass/open:0", "fixed_ns");
        rows.push_back({"2. Pass, fixed cost: wake-up, driver lock + unlock",
                        Format("%.1f us = %.1f x pass floor (no suit open)", fixed / 1e3, fixed / floor), "-",
                        "-"});
    }
    std::vector<double> ns, beyond, between;
    for (int n : kSuits) {
        const std::string name = "PollingPass/open:" + std::to_string(n);
        if (!r.Has(name)) continue;
        const double all = r.Median(name, "beyond_ns");
        const double heldUp = r.Max(name, "held_up");
        const std::string split =
            n == 1 ? Format("fixed cost %.1f us, 1 record", r.Median(name, "fixed_ns") / 1e3)
                   : Format("fixed cost %.1f us + %d x %.0f ns between reads", r.Median(name, "fixed_ns") / 1e3, n - 1,
                            r.Median(name, "between_ns"));
        ns.push_back(n);
        beyond.push_back(all);
        if (n > 1) between.push_back(r.Median(name, "between_ns"));
        rows.push_back({Format("2. Pass beyond GyroRead, %d open suit%s", n, n == 1 ? "" : "s"),
                        Format("%.1f us = %.0f ns/suit (%s; GyroRead %.0f ns)%s", all / 1e3, all / n, split.c_str(),
                               r.Median(name, "reads_ns") / n,
                               heldUp > 0 ? Format("; %.0f passes held up by KestrionMutex", heldUp).c_str() : ""),
                        "-", "-", all / n < 200 ? "" : kColdPass});
    }
    if (between.size() == 3) {
        rows.push_back({"2. Per suit between two reads (8 / 64 / 512 suits)",
                        Format("%.0f / %.0f / %.0f ns", between[0], between[1], between[2]), "-", "-",
                        between[0] < 200 ? "" : kColdPass});
    }
    if (ns.size() == std::size(kSuits) && between.size() == 3) {
        // Least squares: pass time beyond the reads = fixed + slope * N.
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        const double k = static_cast<double>(ns.size());
        for (std::size_t i = 0; i < ns.size(); ++i) {
            sx += ns[i];
            sy += beyond[i];
            sxx += ns[i] * ns[i];
            sxy += ns[i] * beyond[i];
        }
        const double slope = (k * sxy - sx * sy) / (k * sxx - sx * sx);
        const double fixed = (sy - slope * sx) / k;
        // Linear (or better): a suit costs no more when there are more of them.
        const double growth = between[2] / between[0];
        rows.push_back({"2. Pass cost per open suit beyond GyroRead (slope, 1 to 512 suits)",
                        Format("%.0f ns/suit (least squares: %.1f us per pass + %.0f ns x N)", slope, fixed / 1e3, slope),
                        "< 200 ns/suit", Verdict(slope < 200)});
        rows.push_back({"2. Linearity: per suit at 512 / at 8 suits",
                        Format("%.2f", growth), "linear: <= 1.25", Verdict(growth <= 1.25)});
    }
}

const int summarized = RegisterSummary(20, Summarize);

}  // namespace
