// Streaming over OSC in the VMC protocol: the cost of encoding and sending
// one suit's bundle, beside a bare send of as many bytes; and the CPU that
// streaming 8 suits at 40 Hz to two destinations adds to the reading thread,
// measured at that rhythm, with its cold caches between ticks.
#include "BenchSupport.h"
#include "kestrion-host/OscSender.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace {

using namespace kxbench;

// UDP sockets on consecutive ports of 127.0.0.1 for the bundles to reach.
class Receivers {
public:
    explicit Receivers(int count) {
        for (int attempt = 0; attempt < 20 && fds_.empty(); ++attempt) {
            base_ = 20000 + std::rand() % 2000 * 16;
            for (int i = 0; i < count; ++i) {
                const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
                fds_.push_back(fd);
                const sockaddr_in address = Address(i);
                if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
                    Close();
                    break;
                }
            }
        }
    }
    ~Receivers() { Close(); }
    bool Ready() const { return !fds_.empty(); }
    std::string Destination(int offset) const { return "127.0.0.1:" + std::to_string(base_ + offset); }
    sockaddr_in Address(int offset) const {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(base_ + offset));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }
    // Reads what arrived; the size of the last packet.
    long Drain() {
        static char packet[65536];
        long size = 0, got = 0;
        for (int fd : fds_) {
            while ((got = recv(fd, packet, sizeof packet, 0)) > 0) size = got;
        }
        return size;
    }

private:
    void Close() {
        for (int fd : fds_) close(fd);
        fds_.clear();
    }
    std::vector<int> fds_;
    int base_ = 0;
};

Frame SampleFrame() {
    Frame frame{};
    frame.position = Vector(120.5f, 93.2f, -240.1f);
    for (int j = 0; j < 18; ++j) frame.rotations[j] = Vector(4.0f + j, 170.0f - 7 * j, -3.0f * j);
    return frame;
}

std::int64_t ThreadCpuNs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

// Nobody reads the receiving socket while timing: once its buffer is full
// the kernel drops what comes, as it would for a slow receiver.
void Bundle(benchmark::State& state, bool bare) {
    Receivers receivers(1);
    if (!receivers.Ready()) return state.SkipWithError("no UDP port could be bound");
    kxhost::OscSender sender({receivers.Destination(0)}, {0}, 40);
    const std::vector<Frame> frames(1, SampleFrame());
    sender.Send(frames);
    SleepMs(10);
    const long size = receivers.Drain();
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    const sockaddr_in address = receivers.Address(0);
    const std::vector<char> bytes(static_cast<std::size_t>(size));
    for (auto _ : state) {
        if (bare) {
            benchmark::DoNotOptimize(sendto(fd, bytes.data(), bytes.size(), MSG_DONTWAIT,
                                            reinterpret_cast<const sockaddr*>(&address), sizeof address));
        } else {
            sender.Send(frames);
        }
    }
    close(fd);
    state.counters["bytes"] = static_cast<double>(size);
}

void Stream(benchmark::State& state) {
    Receivers receivers(16);
    if (!receivers.Ready()) return state.SkipWithError("no UDP ports could be bound");
    kxhost::OscSender sender({receivers.Destination(0), receivers.Destination(8)}, {0, 1, 2, 3, 4, 5, 6, 7}, 40);
    const std::vector<Frame> frames(8, SampleFrame());
    double cpuNs = 0, wallNs = 0, ticks = 0;
    for (auto _ : state) {
        const std::int64_t start = NowNs();
        const long count = std::lround(Seconds(3.0) * 40);
        for (long k = 0; k < count; ++k) {
            const std::int64_t due = start + k * 25000000LL;
            const timespec at{static_cast<time_t>(due / 1000000000), static_cast<long>(due % 1000000000)};
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
            const std::int64_t c0 = ThreadCpuNs();
            sender.Send(frames);
            cpuNs += static_cast<double>(ThreadCpuNs() - c0);
            receivers.Drain();
        }
        const std::int64_t wall = NowNs() - start;
        state.SetIterationTime(static_cast<double>(wall) / 1e9);
        wallNs += static_cast<double>(wall);
        ticks += static_cast<double>(count);
    }
    state.counters["cpu_percent"] = 100.0 * cpuNs / wallNs;
    state.counters["cpu_per_tick_us"] = cpuNs / ticks / 1e3;
}

const bool registered = [] {
    for (bool bare : {false, true}) {
        Loop(bare ? "OscBundle/bare-send" : "OscBundle/encode-and-send", 12, 0.2,
             [bare](benchmark::State& s) { Bundle(s, bare); });
    }
    const char* stream = "OscStream/suits:8/rate:40/destinations:2";
    Bench(stream, 5, Stream);
    Figure("7. OSC bundle of one suit: encode (liblo) and send", "-", [](const Results& r) {
        const double t = r.Median("OscBundle/encode-and-send"), bare = r.Median("OscBundle/bare-send");
        return Measured{Format("%.1f us = %.1f x a bare send of its %.0f bytes (%.1f us)", t / 1e3, t / bare,
                               r.Median("OscBundle/encode-and-send", "bytes"), bare / 1e3)};
    });
    Figure("7. Extra CPU of streaming 8 suits at 40 Hz to 2 destinations", "-", [stream](const Results& r) {
        return Measured{Format("%.2f %% of one core (max of runs %.2f %%; %.0f us per tick)",
                               r.Median(stream, "cpu_percent"), r.Max(stream, "cpu_percent"),
                               r.Median(stream, "cpu_per_tick_us"))};
    });
    return true;
}();

}  // namespace
