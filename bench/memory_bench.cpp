// Memory per suit record and per channel.
//
// This program replaces the global operator new and delete, which the
// plug-in's allocations (and its Win32 layer's, linked into it) go through
// (libstdc++'s other forms forward to these), and keeps count of the
// live blocks and their malloc_usable_size. A block's footprint is its
// usable size plus the allocator's 8-byte size field. The suit library runs
// from the environment (not scripted, so it logs nothing) with its cheapest
// reads, and is initialised by this program before the channel starts, so
// the library's own per-suit state is in place before the counting begins;
// the channel's later GyroInit only adds a reference. What remains in the
// difference is the plug-in's: channel, driver, worker bookkeeping, records
// and their mutexes. Thread stacks are mapped, not allocated, and are
// reported apart.
#include "BenchSupport.h"

#include "driver/Gyro.h"
#include "driver/SuitRecord.h"
#include "plugin/PluginEntry.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long long> liveBlocks{0}, liveUsable{0};

}  // namespace

void* operator new(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    liveBlocks.fetch_add(1, std::memory_order_relaxed);
    liveUsable.fetch_add(static_cast<long long>(malloc_usable_size(p)), std::memory_order_relaxed);
    return p;
}

void operator delete(void* p) noexcept {
    if (p == nullptr) return;
    liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    liveUsable.fetch_sub(static_cast<long long>(malloc_usable_size(p)), std::memory_order_relaxed);
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

using namespace kxbench;

struct Heap {
    long long blocks = liveBlocks.load(), usable = liveUsable.load();
    long long Bytes() const { return usable + 8 * blocks; }
    Heap operator-(const Heap& o) const { return Heap{blocks - o.blocks, usable - o.usable}; }
};

// The heap a running channel holds beyond an idle one, with `suits` suits all open.
Heap Running(int suits) {
    setenv("KESTRION_SIM_SUITS", std::to_string(suits).c_str(), 1);
    GyroInit();
    KestrionSim::SetFastReads(true);
    auto* channel = static_cast<KestrionUnique*>(InitDLL());
    const Heap idle;
    for (int k = 0; k < suits; ++k) channel->Connect(k);
    // Every suit read once, so the worker has run a pass.
    Frame frame{};
    const std::int64_t end = NowNs() + 2000000000LL;
    while ((channel->GetData(suits - 1, frame), frame.leadWord == 0) && NowNs() < end) SleepMs(1);
    const Heap running;
    channel->Reset();
    delete channel;
    GyroFinish();
    return running - idle;
}

void Memory(State& state) {
    const int kMany = 64, kMore = 512, kChannels = 16;
    // The library keeps its state for the most suits it was ever started
    // with; made here once, it is not counted as the plug-in's.
    setenv("KESTRION_SIM_SUITS", std::to_string(kMore).c_str(), 1);
    GyroInit();
    GyroFinish();
    const Heap start;
    // The first channel also creates the process's one "KestrionMutex" object.
    Orv_Channel* first = InitDLL();
    const Heap afterFirst;
    Orv_Channel* channels[kChannels];
    for (Orv_Channel*& c : channels) c = InitDLL();
    const Heap each = Heap() - afterFirst;
    const Heap one = Running(1), many = Running(kMany), record = Running(kMore) - many;
    for (Orv_Channel* c : channels) delete c;
    delete first;
    const Heap leak = Heap() - start;  // before the counters allocate
    const double perRecord = double(record.Bytes()) / (kMore - kMany);
    const double perRecordBlocks = double(record.blocks) / (kMore - kMany);
    state.counters.insert({{"record_bytes", perRecord}, {"record_blocks", perRecordBlocks},
                           {"channel_bytes", double(each.Bytes()) / kChannels},
                           {"channel_blocks", double(each.blocks) / kChannels},
                           {"first_channel_bytes", double((afterFirst - start).Bytes())},
                           {"started_driver_bytes", double(one.Bytes()) - perRecord},
                           {"started_driver_blocks", double(one.blocks) - perRecordBlocks},
                           {"leaked_bytes", double(leak.Bytes())}});
}

double M(const Results& r, const char* counter) { return r.Median("Memory", counter); }

const bool registered = [] {
    Bench("Memory", 1, Memory);
    Figure("6. Heap per suit record (record, frame mutex, list slot)", "-", [](const Results& r) {
        return Format("%.0f B in %.0f blocks (sizeof(SuitRecord) %zu B)", M(r, "record_bytes"), M(r, "record_blocks"),
                      sizeof(SuitRecord));
    });
    Figure("6. Heap per channel, idle (InitDLL)", "-", [](const Results& r) {
        return Format("%.0f B in %.0f blocks (sizeof(KestrionUnique) %zu B; first channel %.0f B)",
                      M(r, "channel_bytes"), M(r, "channel_blocks"), sizeof(KestrionUnique),
                      M(r, "first_channel_bytes"));
    });
    Figure("6. Heap of a started driver beyond its records", "-", [](const Results& r) {
        size_t stack = 0;
        pthread_attr_t attributes;
        pthread_getattr_default_np(&attributes);
        pthread_attr_getstacksize(&attributes, &stack);
        pthread_attr_destroy(&attributes);
        return Format("%.0f B in %.0f blocks, + worker stack %zu KiB mapped", M(r, "started_driver_bytes"),
                      M(r, "started_driver_blocks"), stack / 1024);
    });
    Figure("6. Heap left after Reset and delete of every channel", "-",
           [](const Results& r) { return Format("%.0f B", M(r, "leaked_bytes")); });
    return true;
}();

}  // namespace
