// Memory per suit record and per channel.
//
// This program replaces the global operator new and delete, which the
// plug-in's allocations (and its Win32 layer's, linked into it) go through,
// and keeps count of the live blocks and their malloc_usable_size. A block's
// footprint is its usable size plus the allocator's 8-byte size field. The
// suit library runs from the environment (not scripted, so it logs nothing)
// with its cheapest reads, and is initialised by this program before the
// channel starts, so the library's own per-suit state is in place before the
// counting begins; the channel's later GyroInit only adds a reference. What
// remains in the difference is the plug-in's: channel, driver, worker
// bookkeeping, records and their mutexes. Thread stacks are mapped, not
// allocated, and are reported apart.
#include "BenchSupport.h"

#include "driver/Gyro.h"
#include "driver/SuitRecord.h"
#include "plugin/PluginEntry.h"

#include <malloc.h>
#include <pthread.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long long> liveBlocks{0};
std::atomic<long long> liveUsable{0};

void* Counted(void* p) {
    if (p != nullptr) {
        liveBlocks.fetch_add(1, std::memory_order_relaxed);
        liveUsable.fetch_add(static_cast<long long>(malloc_usable_size(p)), std::memory_order_relaxed);
    }
    return p;
}

void Uncount(void* p) {
    if (p == nullptr) return;
    liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    liveUsable.fetch_sub(static_cast<long long>(malloc_usable_size(p)), std::memory_order_relaxed);
}

void* Allocate(std::size_t size) {
    void* p = Counted(std::malloc(size == 0 ? 1 : size));
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void* AllocateAligned(std::size_t size, std::align_val_t align) {
    void* p = nullptr;
    const std::size_t a = std::max(static_cast<std::size_t>(align), sizeof(void*));
    if (posix_memalign(&p, a, size == 0 ? 1 : size) != 0) throw std::bad_alloc();
    return Counted(p);
}

void Free(void* p) {
    Uncount(p);
    std::free(p);
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Counted(std::malloc(size ? size : 1)); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Counted(std::malloc(size ? size : 1)); }
void* operator new(std::size_t size, std::align_val_t align) { return AllocateAligned(size, align); }
void* operator new[](std::size_t size, std::align_val_t align) { return AllocateAligned(size, align); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t) noexcept { Free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Free(p); }
void operator delete(void* p, std::align_val_t) noexcept { Free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { Free(p); }

namespace {

using namespace kxbench;

struct Heap {
    long long blocks;
    long long usable;
    long long Footprint() const { return usable + 8 * blocks; }
};

Heap Live() { return Heap{liveBlocks.load(), liveUsable.load()}; }

Heap operator-(const Heap& a, const Heap& b) { return Heap{a.blocks - b.blocks, a.usable - b.usable}; }

// The heap a running channel holds beyond an idle one, with `suits` suits all open.
Heap Running(int suits) {
    setenv("KESTRION_SIM_SUITS", std::to_string(suits).c_str(), 1);
    GyroInit();
    KestrionSim::SetFastReads(true);
    auto* channel = static_cast<KestrionUnique*>(InitDLL());
    const Heap idle = Live();
    for (int k = 0; k < suits; ++k) channel->Connect(k);
    // Every suit read once, so the worker has run a pass.
    Frame frame{};
    const std::int64_t deadline = NowNs() + 2000000000LL;
    while (frame.leadWord == 0 && NowNs() < deadline) {
        channel->GetData(suits - 1, frame);
        SleepMs(1);
    }
    const Heap running = Live();
    channel->Reset();
    delete channel;
    GyroFinish();
    return running - idle;
}

void Memory(benchmark::State& state) {
    Heap channelFirst{}, channelEach{}, leak{};
    Heap one{}, many{}, more{};
    const int kMany = 64, kMore = 512, kChannels = 16;
    // The library keeps its state for the most suits it was ever started
    // with; made here once, it is not counted as the plug-in's.
    setenv("KESTRION_SIM_SUITS", std::to_string(kMore).c_str(), 1);
    GyroInit();
    GyroFinish();
    for (auto _ : state) {
        Orv_Channel* channels[kChannels];
        const Heap start = Live();
        // The first channel also creates the process's one "KestrionMutex" object.
        Orv_Channel* first = InitDLL();
        const Heap afterFirst = Live();
        for (Orv_Channel*& c : channels) c = InitDLL();
        const Heap afterAll = Live();
        channelFirst = afterFirst - start;
        channelEach = Heap{(afterAll - afterFirst).blocks / kChannels, (afterAll - afterFirst).usable / kChannels};

        one = Running(1);
        many = Running(kMany);
        more = Running(kMore);

        for (Orv_Channel* c : channels) delete c;
        delete first;
        leak = Live() - start;
    }
    const double perRecord = double((more - many).Footprint()) / (kMore - kMany);
    const double perRecordBlocks = double((more - many).blocks) / (kMore - kMany);
    state.counters["record_bytes"] = perRecord;
    state.counters["record_blocks"] = perRecordBlocks;
    state.counters["sizeof_SuitRecord"] = sizeof(SuitRecord);
    state.counters["channel_bytes"] = static_cast<double>(channelEach.Footprint());
    state.counters["channel_blocks"] = static_cast<double>(channelEach.blocks);
    state.counters["first_channel_bytes"] = static_cast<double>(channelFirst.Footprint());
    state.counters["sizeof_KestrionUnique"] = sizeof(KestrionUnique);
    state.counters["started_driver_bytes"] = static_cast<double>(one.Footprint()) - perRecord;
    state.counters["started_driver_blocks"] = static_cast<double>(one.blocks) - perRecordBlocks;
    state.counters["running_64_bytes"] = static_cast<double>(many.Footprint());
    state.counters["leaked_bytes"] = static_cast<double>(leak.Footprint());
    pthread_attr_t attributes;
    size_t stack = 0;
    pthread_getattr_default_np(&attributes);
    pthread_attr_getstacksize(&attributes, &stack);
    pthread_attr_destroy(&attributes);
    state.counters["worker_stack_bytes"] = static_cast<double>(stack);
}

BENCHMARK(Memory)->Iterations(1);

void Summarize(const Results& r, std::vector<Row>& rows) {
    if (!r.Has("Memory")) return;
    auto v = [&](const char* counter) { return r.Median("Memory", counter); };
    rows.push_back({"6. Heap per suit record (record, frame mutex, list slot)",
                    Format("%.0f B in %.0f blocks (sizeof(SuitRecord) %.0f B)", v("record_bytes"), v("record_blocks"),
                           v("sizeof_SuitRecord")),
                    "-", "-"});
    rows.push_back({"6. Heap per channel, idle (InitDLL)",
                    Format("%.0f B in %.0f blocks (sizeof(KestrionUnique) %.0f B; first channel %.0f B)",
                           v("channel_bytes"), v("channel_blocks"), v("sizeof_KestrionUnique"),
                           v("first_channel_bytes")),
                    "-", "-"});
    rows.push_back({"6. Heap of a started driver beyond its records",
                    Format("%.0f B in %.0f blocks, + worker stack %.0f KiB mapped", v("started_driver_bytes"),
                           v("started_driver_blocks"), v("worker_stack_bytes") / 1024),
                    "-", "-"});
    rows.push_back({"6. Heap left after Reset and delete of every channel", Format("%.0f B", v("leaked_bytes")),
                    "-", "-"});
}

const int summarized = RegisterSummary(40, Summarize);

}  // namespace
