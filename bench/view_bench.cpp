// The web view's cost. The extra CPU of `kestrion-host view` with one client
// reading its frame stream (what a browser's page holds open), against
// `kestrion-host stream`, both at 4 simulated suits and 40 Hz: the CPU time
// of each program's threads over a window after its start. And the
// delay from GetData to the frame leaving the server, in this process: the
// server's hook runs once the frame's bytes are handed to the socket.
#include "BenchSupport.h"

#include "kestrion-host/Failure.h"
#include "kestrion-host/ViewServer.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace kxbench;

constexpr int kSuits = 4;
constexpr double kRate = 40;

std::int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Reads the frame stream of the server on `port` until told to stop.
class StreamClient {
public:
    explicit StreamClient(int port) : thread_([this, port] { Run(port); }) {}
    ~StreamClient() {
        stop_ = true;
        thread_.join();
    }
    long Bytes() const { return bytes_; }

private:
    void Run(int port) {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval wait{0, 200000};
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            const std::string request =
                "GET /events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
            if (send(s, request.data(), request.size(), 0) > 0) {
                char buffer[16384];
                while (!stop_) {
                    const ssize_t n = recv(s, buffer, sizeof buffer, 0);
                    if (n == 0) break;
                    if (n > 0) bytes_ += n;
                }
            }
        }
        close(s);
    }

    std::atomic<bool> stop_{false};
    std::atomic<long> bytes_{0};
    std::thread thread_;
};

std::string ProgramDirectory() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    const std::string self(path, static_cast<std::size_t>(n));
    return self.substr(0, self.rfind('/') + 1);
}

// The CPU time of a process's threads so far, seconds, to the nanosecond
// (/proc's tick counts would be 10 ms coarse).
double ProcessCpu(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (dir == nullptr) return NAN;
    double ns = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::FILE* file = std::fopen((tasks + "/" + entry->d_name + "/schedstat").c_str(), "r");
        if (file == nullptr) continue;
        unsigned long long run = 0;
        if (std::fscanf(file, "%llu", &run) == 1) ns += static_cast<double>(run);
        std::fclose(file);
    }
    closedir(dir);
    return ns / 1e9;
}

// One run of the host program: its CPU use over `seconds` after it started,
// percent of one core; with `view`, one client reads its stream meanwhile.
double HostCpuPercent(bool view, double seconds, std::string* error) {
    int out[2];
    if (pipe(out) != 0) return NAN;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string program = ProgramDirectory() + "kestrion-host";
    std::vector<std::string> words{program, view ? "view" : "stream", "--rate", "40"};
    if (view) words.insert(words.end(), {"--port", "0"});
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    setenv("KESTRION_SIM_SUITS", "4", 1);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        *error = "cannot start " + program;
        return NAN;
    }
    // The first line says the suits are read, and where the view is.
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    int port = 0;
    const std::size_t at = line.find("http://127.0.0.1:");
    if (at != std::string::npos) port = std::atoi(line.c_str() + at + 17);
    double percent = NAN;
    if (line.empty() || (view && port <= 0)) {
        *error = "the program did not start: '" + line + "'";
    } else {
        std::unique_ptr<StreamClient> client;
        if (view) client = std::make_unique<StreamClient>(port);
        SleepMs(1000);  // past the start and the first frames
        const double c0 = ProcessCpu(pid);
        const std::int64_t w0 = SteadyNs();
        SleepMs(seconds * 1e3);
        const double c1 = ProcessCpu(pid);
        const std::int64_t w1 = SteadyNs();
        percent = 100.0 * (c1 - c0) / (static_cast<double>(w1 - w0) / 1e9);
        if (view && client->Bytes() == 0) *error = "the client got no frames";
    }
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    close(out[0]);
    return percent;
}

void HostCpu(benchmark::State& state, bool view) {
    for (auto _ : state) {
        std::string error;
        const double percent = HostCpuPercent(view, Seconds(8), &error);
        if (!error.empty() || std::isnan(percent)) {
            state.SkipWithError(error.empty() ? "no CPU figure" : error.c_str());
            return;
        }
        state.SetIterationTime(Seconds(8));
        state.counters["cpu_percent"] = percent;
    }
}

void ViewDelay(benchmark::State& state) {
    RunningChannel running(kSuits, kSuits, false);
    std::mutex lock;
    std::vector<double> delaysUs;
    kxhost::ViewServer::Options options;
    options.port = 0;
    options.rate = kRate;
    kxhost::ViewServer server(options);
    server.OnSent([&](const kxhost::ViewFrame& frame) {
        const double us = static_cast<double>(SteadyNs() - frame.readNs) / 1e3;
        std::lock_guard<std::mutex> guard(lock);
        delaysUs.push_back(us);
    });
    try {
        server.Bind();
    } catch (const kxhost::Failure& failure) {
        state.SkipWithError(failure.what());
        return;
    }
    server.Serve({0, 1, 2, 3});
    StreamClient client(server.Port());
    SleepMs(300);
    const long frames = static_cast<long>(Seconds(5) * kRate);
    long index = 0;
    for (auto _ : state) {
        const std::int64_t start = SteadyNs();
        for (long k = 0; k < frames; ++k, ++index) {
            const std::int64_t due = start + static_cast<std::int64_t>(static_cast<double>(k) * 1e9 / kRate);
            while (SteadyNs() < due) SleepMs(static_cast<double>(due - SteadyNs()) / 1e6);
            auto frame = std::make_shared<kxhost::ViewFrame>();
            frame->readNs = SteadyNs();
            frame->frames.resize(kSuits);
            for (int suit = 0; suit < kSuits; ++suit) running.channel.GetData(suit, frame->frames[suit]);
            frame->index = index;
            frame->seconds = static_cast<double>(index) / kRate;
            frame->suits = {0, 1, 2, 3};
            frame->samples.assign(kSuits, index);
            frame->agesMs.assign(kSuits, 0.0);
            server.Publish(std::move(frame));
        }
        state.SetIterationTime(static_cast<double>(SteadyNs() - start) / 1e9);
    }
    SleepMs(100);
    server.Stop();
    std::lock_guard<std::mutex> guard(lock);
    state.counters["frames_sent"] = static_cast<double>(delaysUs.size());
    state.counters["median_us"] = Quantile(delaysUs, 0.5);
    state.counters["p99_us"] = Quantile(delaysUs, 0.99);
}

const bool registered = [] {
    for (bool view : {false, true}) {
        Bench(view ? "HostCpu/view" : "HostCpu/stream", 5, [view](benchmark::State& s) { HostCpu(s, view); });
    }
    const char* delay = "ViewDelay/suits:4/rate:40";
    Bench(delay, 5, ViewDelay);
    Figure("5. view's extra CPU over stream, 4 suits at 40 Hz, one stream client", "-", [](const Results& r) {
        const double view = r.Median("HostCpu/view", "cpu_percent"), stream = r.Median("HostCpu/stream", "cpu_percent");
        return Measured{Format("%.2f %% of one core (view %.2f %%, stream %.2f %%)", view - stream, view, stream)};
    });
    Figure("5. view: GetData to the frame leaving the server, 4 suits at 40 Hz", "-", [delay](const Results& r) {
        return Measured{Format("median %.0f us, p99 %.0f us (max of runs' p99 %.0f us)", r.Median(delay, "median_us"),
                               r.Median(delay, "p99_us"), r.Max(delay, "p99_us"))};
    });
    return true;
}();

}  // namespace
