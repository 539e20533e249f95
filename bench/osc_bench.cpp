// Streaming over OSC in the VMC protocol: the cost of encoding and sending
// one suit's bundle, beside a bare send of as many bytes; and the CPU that
// streaming 8 suits at 40 Hz to two destinations adds to the reading thread,
// measured at that rhythm, with its cold caches between ticks.
#include "BenchSupport.h"
#include "kestrion-host/OscSender.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>

namespace {

using namespace kxbench;

// UDP sockets on consecutive ports of 127.0.0.1 for the bundles to reach.
struct Receivers {
    explicit Receivers(int count) {
        for (int attempt = 0; attempt < 20 && fds.empty(); ++attempt) {
            base = 20000 + std::rand() % 2000 * 16;
            for (int i = 0; i < count; ++i) {
                fds.push_back(socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0));
                const sockaddr_in address = Loopback(base + i);
                if (bind(fds.back(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
                    Close();  // and try other ports
                    break;
                }
            }
        }
    }
    ~Receivers() { Close(); }
    void Close() {
        for (int fd : fds) close(fd);
        fds.clear();
    }
    std::string Destination(int offset) const { return "127.0.0.1:" + std::to_string(base + offset); }
    // Reads what arrived; the size of the last packet.
    long Drain() {
        static char packet[65536];
        long size = 0, got = 0;
        for (int fd : fds) {
            while ((got = recv(fd, packet, sizeof packet, 0)) > 0) size = got;
        }
        return size;
    }
    std::vector<int> fds;
    int base = 0;
};

Frame SampleFrame() {
    Frame frame{};
    frame.position = Vector(120.5f, 93.2f, -240.1f);
    for (int j = 0; j < 18; ++j) frame.rotations[j] = Vector(4.0f + j, 170.0f - 7 * j, -3.0f * j);
    return frame;
}

// Nobody reads the receiving socket while timing: once its buffer is full
// the kernel drops what comes, as it would for a slow receiver.
void Bundle(State& state, bool bare) {
    Receivers receivers(1);
    if (receivers.fds.empty()) return state.SkipWithError("no UDP port could be bound");
    kxhost::OscSender sender({receivers.Destination(0)}, {0}, 40);
    const std::vector<Frame> frames(1, SampleFrame());
    sender.Send(frames);
    SleepMs(10);
    const std::vector<char> bytes(static_cast<std::size_t>(receivers.Drain()));
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    const sockaddr_in address = Loopback(receivers.base);
    for (auto _ : state) {
        if (bare) {
            benchmark::DoNotOptimize(sendto(fd, bytes.data(), bytes.size(), MSG_DONTWAIT,
                                            reinterpret_cast<const sockaddr*>(&address), sizeof address));
        } else {
            sender.Send(frames);
        }
    }
    close(fd);
    state.counters["bytes"] = static_cast<double>(bytes.size());
}

void Stream(State& state) {
    Receivers receivers(16);
    if (receivers.fds.empty()) return state.SkipWithError("no UDP ports could be bound");
    kxhost::OscSender sender({receivers.Destination(0), receivers.Destination(8)}, {0, 1, 2, 3, 4, 5, 6, 7}, 40);
    const std::vector<Frame> frames(8, SampleFrame());
    const std::int64_t start = NowNs();
    const long ticks = std::lround(Seconds(3.0) * 40);
    double cpuNs = 0;
    for (long k = 0; k < ticks; ++k) {
        SleepUntilNs(start + k * 25000000LL);
        const std::int64_t c0 = NowNs(CLOCK_THREAD_CPUTIME_ID);
        sender.Send(frames);
        cpuNs += static_cast<double>(NowNs(CLOCK_THREAD_CPUTIME_ID) - c0);
        receivers.Drain();
    }
    state.counters["cpu_percent"] = 100.0 * cpuNs / static_cast<double>(NowNs() - start);
    state.counters["cpu_per_tick_us"] = cpuNs / static_cast<double>(ticks) / 1e3;
}

const bool registered = [] {
    Loop("OscBundle/encode-and-send", 12, 0.2, [](State& s) { Bundle(s, false); });
    Loop("OscBundle/bare-send", 12, 0.2, [](State& s) { Bundle(s, true); });
    const char* stream = "OscStream/suits:8/rate:40/destinations:2";
    Bench(stream, 5, Stream);
    Figure("7. OSC bundle of one suit: encode (liblo) and send", "-", [](const Results& r) {
        const double t = r.Median("OscBundle/encode-and-send"), bare = r.Median("OscBundle/bare-send");
        return Format("%.1f us = %.1f x a bare send of its %.0f bytes (%.1f us)", t / 1e3, t / bare,
                      r.Median("OscBundle/encode-and-send", "bytes"), bare / 1e3);
    });
    Figure("7. Extra CPU of streaming 8 suits at 40 Hz to 2 destinations", "-", [stream](const Results& r) {
        return Format("%.2f %% of one core (max of runs %.2f %%; %.0f us per tick)", r.Median(stream, "cpu_percent"),
                      r.Max(stream, "cpu_percent"), r.Median(stream, "cpu_per_tick_us"));
    });
    return true;
}();

}  // namespace
