// What the host program's outputs cost.
//
// Streaming over OSC in the VMC protocol: the cost of encoding and sending
// one suit's bundle, beside a bare send of as many bytes; and the CPU that
// streaming 8 suits at 40 Hz to two destinations adds to the reading thread,
// measured at that rhythm, with its cold caches between ticks.
//
// The web view's cost. The extra CPU of `kestrion-host view` with one client
// reading its frame stream (what a browser's page holds open), against
// `kestrion-host stream`, both at 4 simulated suits and 40 Hz: the CPU time
// of each program's threads over a window after its start. And the
// delay from GetData to the frame reaching a reader of the stream, in this
// process: the reader takes the clock as each frame's event arrives.
#include "BenchSupport.h"

#include "app/base/Failure.h"
#include "app/osc/OscSender.h"
#include "app/view/ViewServer.h"

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace {

using namespace kxbench;
namespace fs = std::filesystem;

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
    for (int j = 0; j < kJointCount; ++j) frame.rotations[j] = Vector(4.0f + j, 170.0f - 7 * j, -3.0f * j);
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

constexpr int kSuits = 4;
constexpr double kRate = 40;

// Reads the frame stream of the server on `port`, as a browser's page does.
struct StreamClient {
    // `received`, if given, sees the stream's text as it arrives.
    explicit StreamClient(int port, std::function<void(const char*, std::size_t)> received = nullptr)
        : thread([this, port, received] {
              // Plain HTTP over a socket: the headers and chunk sizes that
              // come with the events count as bytes received too.
              const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
              sockaddr_in server{};
              server.sin_family = AF_INET;
              server.sin_port = htons(static_cast<std::uint16_t>(port));
              server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
              const std::string request =
                  "GET /events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
              if (connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0 &&
                  send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
                  char data[16384];
                  pollfd readable{fd, POLLIN, 0};
                  while (!stop) {
                      if (poll(&readable, 1, 100) <= 0) continue;
                      const ssize_t n = recv(fd, data, sizeof data, 0);
                      if (n <= 0) break;
                      bytes += n;
                      if (received) received(data, static_cast<std::size_t>(n));
                  }
              }
              close(fd);
          }) {}
    ~StreamClient() {
        stop = true;
        thread.join();
    }
    std::atomic<bool> stop{false};
    std::atomic<long> bytes{0};
    std::thread thread;
};

// The CPU time of a process's threads so far, to the nanosecond (/proc's
// tick counts would be 10 ms coarse).
double ProcessCpuNs(pid_t pid) {
    double ns = 0, run = 0;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        if (std::ifstream(task.path() / "schedstat") >> run) ns += run;
    }
    return ns;
}

// One run of the host program: its CPU use over a window after it started,
// percent of one core; with `view`, one client reads its stream meanwhile.
void HostCpu(State& state, bool view) {
    const std::string program = fs::read_symlink("/proc/self/exe").parent_path() / "kestrion-host";
    // The shell prints its process id and becomes the program, whose first
    // line says the suits are read, and where the view is.
    const std::string command = Format("echo $$; KESTRION_SIM_SUITS=%d exec '%s' %s --rate %g 2>/dev/null", kSuits,
                                       program.c_str(), view ? "view --port 0" : "stream", kRate);
    FILE* out = popen(command.c_str(), "r");
    int pid = 0;
    char line[1024] = "";
    const bool started = out != nullptr && std::fscanf(out, "%d\n", &pid) == 1 && std::fgets(line, sizeof line, out);
    const char* at = std::strstr(line, "http://127.0.0.1:");
    const int port = at != nullptr ? std::atoi(at + 17) : 0;
    std::string error = !started || (view && port <= 0) ? Format("%s did not start: '%s'", program.c_str(), line) : "";
    if (error.empty()) {
        std::optional<StreamClient> client;
        if (view) client.emplace(port);
        SleepMs(1000);  // past the start and the first frames
        const double c0 = ProcessCpuNs(pid);
        const std::int64_t w0 = NowNs();
        SleepMs(Seconds(8) * 1e3);
        const double c1 = ProcessCpuNs(pid);
        state.counters["cpu_percent"] = 100.0 * (c1 - c0) / static_cast<double>(NowNs() - w0);
        if (view && client->bytes == 0) error = "the client got no frames";
    }
    if (pid > 0) kill(pid, SIGINT);
    if (out != nullptr) pclose(out);
    if (!error.empty()) state.SkipWithError(error.c_str());
}

void ViewDelay(State& state) {
    RunningChannel running(kSuits, kSuits, false);
    const long frames = static_cast<long>(Seconds(5) * kRate);
    std::vector<std::atomic<std::int64_t>> readNs(static_cast<std::size_t>(frames));
    std::vector<double> delaysUs;
    std::string pending;
    // On the client's thread: each frame event names its index ("k"), whose
    // read time the publisher noted.
    auto received = [&](const char* data, std::size_t n) {
        const std::int64_t now = NowNs();
        pending.append(data, n);
        std::size_t at;
        while ((at = pending.find("data: {\"k\":")) != std::string::npos) {
            const std::size_t end = pending.find(',', at);
            if (end == std::string::npos) break;
            const long k = std::atol(pending.c_str() + at + 11);
            if (k >= 0 && k < frames && readNs[k] > 0) delaysUs.push_back(static_cast<double>(now - readNs[k]) / 1e3);
            pending.erase(0, end);
        }
    };
    kxhost::ViewServer server({"127.0.0.1", 0, kRate, ""});
    try {
        server.Bind();
    } catch (const kxhost::Failure& failure) {
        return state.SkipWithError(failure.what());
    }
    server.Serve({0, 1, 2, 3});
    std::optional<StreamClient> client(std::in_place, server.Port(), received);
    SleepMs(300);
    const std::int64_t start = NowNs();
    for (long k = 0; k < frames; ++k) {
        SleepUntilNs(start + static_cast<std::int64_t>(static_cast<double>(k) * 1e9 / kRate));
        auto frame = std::make_shared<kxhost::ViewFrame>();
        frame->readNs = NowNs();
        readNs[static_cast<std::size_t>(k)] = frame->readNs;
        frame->frames.resize(kSuits);
        for (int suit = 0; suit < kSuits; ++suit) running.channel.GetData(suit, frame->frames[suit]);
        frame->index = k;
        frame->seconds = static_cast<double>(k) / kRate;
        frame->suits = {0, 1, 2, 3};
        frame->samples.assign(kSuits, k);
        frame->agesMs.assign(kSuits, 0.0);
        server.Publish(std::move(frame));
    }
    SleepMs(100);
    server.Stop();
    client.reset();  // joins the client's thread: delaysUs is complete
    state.counters.insert({{"frames_sent", static_cast<double>(delaysUs.size())},
                           {"median_us", Quantile(delaysUs, 0.5)}, {"p99_us", Quantile(delaysUs, 0.99)}});
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
    for (bool view : {false, true}) {
        Bench(view ? "HostCpu/view" : "HostCpu/stream", 5, [view](State& s) { HostCpu(s, view); });
    }
    const char* delay = "ViewDelay/suits:4/rate:40";
    Bench(delay, 5, ViewDelay);
    Figure("5. view's extra CPU over stream, 4 suits at 40 Hz, one stream client", "-", [](const Results& r) {
        const double view = r.Median("HostCpu/view", "cpu_percent"), stream = r.Median("HostCpu/stream", "cpu_percent");
        return Format("%.2f %% of one core (view %.2f %%, stream %.2f %%)", view - stream, view, stream);
    });
    Figure("5. view: GetData to the frame reaching a browser, 4 suits at 40 Hz", "-", [delay](const Results& r) {
        return Format("median %.0f us, p99 %.0f us (max of runs' p99 %.0f us)", r.Median(delay, "median_us"),
                      r.Median(delay, "p99_us"), r.Max(delay, "p99_us"));
    });
    return true;
}();

}  // namespace
