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
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cmath>
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

// The counter's rate, measured once against the monotonic clock.
double TicksPerNs() {
    static const double rate = [] {
        const std::uint64_t tick0 = Ticks();
        const std::int64_t ns0 = kxbench::NowNs();
        kxbench::SleepMs(200);
        return static_cast<double>(Ticks() - tick0) / static_cast<double>(kxbench::NowNs() - ns0);
    }();
    return rate;
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

void PollingPass(State& state, int open) {
    const double stampTicks = StampTicks(), ticksPerNs = TicksPerNs();
    {
        RunningChannel running(std::max(open, 1), open, true);
        SleepMs(60);  // past the first passes
        used = 0;
        recording = true;
        SleepMs(Seconds(2.0) * 1e3);
        recording = false;
    }  // the worker has ended: its stamps are all in
    std::vector<double> beyondNs, fixedNs, betweenNs;
    // Whole passes only: a wake-up, exactly `open` reads, the next sleep.
    for (std::size_t i = 0, n = used; i < n; ++i) {
        if (stamps[i].kind != kSleepOut) continue;
        std::size_t j = i + 1;
        double reads = 0, between = 0;
        int count = 0;
        for (; j + 1 < n && stamps[j].kind == kReadIn && stamps[j + 1].kind == kReadOut; j += 2, ++count) {
            reads += static_cast<double>(stamps[j + 1].ticks - stamps[j].ticks);
            if (count > 0) between += static_cast<double>(stamps[j].ticks - stamps[j - 1].ticks) - stampTicks;
        }
        if (j >= n || stamps[j].kind != kSleepIn || count != open) continue;
        const double beyond = static_cast<double>(stamps[j].ticks - stamps[i].ticks) - reads - (open + 1) * stampTicks;
        beyondNs.push_back(beyond / ticksPerNs);
        fixedNs.push_back((beyond - between) / ticksPerNs);
        betweenNs.push_back(between / ticksPerNs / std::max(open - 1, 1));
        i = j - 1;
    }
    if (beyondNs.empty()) return state.SkipWithError("no whole pass was stamped");
    state.counters.insert({{"passes", static_cast<double>(beyondNs.size())}, {"beyond_ns", Quantile(beyondNs, 0.5)},
                           {"fixed_ns", Quantile(fixedNs, 0.5)}, {"between_ns", Quantile(betweenNs, 0.5)}});
}

// The floor of a pass: this thread wakes from the same 25 ms sleep, takes
// and releases a mutex of the driver mutex's kind and reads the clock for
// its next deadline, timed from its wake-up to its next sleep; and the same
// lock and unlock with nothing between them (warm).
void PassFloor(State& state) {
    pthread_mutex_t* mutex = DriverKindMutex(true);
    std::vector<double> cold, warm;
    for (int i = 0; i < static_cast<int>(Seconds(2.0) / 0.025); ++i) {
        const timespec pause{0, 25000000};
        realSleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
        const std::uint64_t woke = Ticks();
        pthread_mutex_lock(mutex);
        pthread_mutex_unlock(mutex);
        benchmark::DoNotOptimize(NowNs());
        cold.push_back(static_cast<double>(Ticks() - woke));
        const std::uint64_t t0 = Ticks();
        pthread_mutex_lock(mutex);
        pthread_mutex_unlock(mutex);
        warm.push_back(static_cast<double>(Ticks() - t0));
    }
    state.counters["cold_ns"] = Quantile(cold, 0.5) / TicksPerNs();
    state.counters["warm_ns"] = Quantile(warm, 0.5) / TicksPerNs();
}

// Why a pass over a few suits costs microseconds per suit.
const char* const kColdPass =
    "each pass starts with caches and TLB gone cold in the 25 ms pause, which is fixed: the wake-up alone "
    "(pass floor) costs microseconds, shared out over few suits, and a record's cache lines are cold again; "
    "the cost of each further suit is the slope";

std::string Pass(int open) { return "PollingPass/open:" + std::to_string(open); }
double Of(const Results& r, int open, const char* what) { return r.Median(Pass(open), what); }

const bool registered = [] {
    Bench("PassFloor", 5, PassFloor);
    Figure("2. Pass floor: wake-up from a 25 ms sleep + lock + unlock", "-", [](const Results& r) {
        return Format("%.1f us (the same lock + unlock, warm: %.0f ns)", r.Median("PassFloor", "cold_ns") / 1e3,
                      r.Median("PassFloor", "warm_ns"));
    });
    for (int n : {0, 1, 8, 64, 512}) Bench(Pass(n), 5, [n](State& s) { PollingPass(s, n); });
    Figure("2. Pass, fixed cost: wake-up, driver lock + unlock", "-", [](const Results& r) {
        return Format("%.1f us = %.1f x pass floor (no suit open)", Of(r, 0, "fixed_ns") / 1e3,
                      Of(r, 0, "fixed_ns") / r.Median("PassFloor", "cold_ns"));
    });
    for (int n : {1, 8, 64, 512}) {
        Figure("2. Pass beyond GyroRead, " + Suits(n, "open suit"), "-", [n](const Results& r) {
            const double all = Of(r, n, "beyond_ns");
            return Measured(Format("%.1f us = %.0f ns/suit (fixed cost %.1f us + %d x %.0f ns between reads)",
                                   all / 1e3, all / n, Of(r, n, "fixed_ns") / 1e3, n - 1, Of(r, n, "between_ns")),
                            std::nullopt, all / n < 200 ? "" : kColdPass);
        });
    }
    Figure("2. Per suit between two reads (8 / 64 / 512 suits)", "-", [](const Results& r) {
        const double at8 = Of(r, 8, "between_ns");
        return Measured(Format("%.0f / %.0f / %.0f ns", at8, Of(r, 64, "between_ns"), Of(r, 512, "between_ns")),
                        std::nullopt, at8 < 200 ? "" : kColdPass);
    });
    Figure("2. Pass cost per open suit beyond GyroRead (slope, 1 to 512 suits)", "< 200 ns/suit", [](const Results& r) {
        // Least squares: pass time beyond the reads = fixed + slope * N.
        double k = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (int n : {1, 8, 64, 512}) {
            const double y = Of(r, n, "beyond_ns");
            k += 1, sx += n, sy += y, sxx += n * n, sxy += n * y;
        }
        const double slope = (k * sxy - sx * sy) / (k * sxx - sx * sx), fixed = (sy - slope * sx) / k;
        return Measured(Format("%.0f ns/suit (least squares: %.1f us per pass + %.0f ns x N)", slope, fixed / 1e3, slope),
                        slope < 200);
    });
    // Linear (or better): a suit costs no more when there are more of them.
    Figure("2. Linearity: per suit at 512 / at 8 suits", "linear: <= 1.25", [](const Results& r) {
        const double growth = Of(r, 512, "between_ns") / Of(r, 8, "between_ns");
        return Measured(Format("%.2f", growth), growth <= 1.25);
    });
    return true;
}();

}  // namespace
