// Counts of what a process holds, for tests that check nothing is left behind.
#pragma once

#include <string>
#include <thread>
#include <vector>

namespace kx {

// True where the Win32 calls are the system's own rather than our layer's.
#ifdef _WIN32
constexpr bool kSystemWin32 = true;
#else
constexpr bool kSystemWin32 = false;
#endif

// Threads of this process, or -1 when the count cannot be read.
int CountProcessThreads();

// Threads of the process once its runtime has settled: ThreadSanitizer
// starts a thread of its own when the first other thread is created.
inline int BaselineThreadCount() {
    std::thread([] {}).join();
    return CountProcessThreads();
}

// Open file descriptors (Linux) or kernel handles (Windows), or -1.
int CountOpenHandles();

// Closes standard output for a while, to see that nothing takes its place:
// gives what RestoreStandardOutput needs to put it back.
int CloseStandardOutput();
bool StandardOutputIsClosed();
void RestoreStandardOutput(int saved);

// Starts `program` with `arguments` as a separate process; false on failure.
// WaitChildProcess then waits for it and gives its exit code (-1 on error).
struct ChildProcess {
    long long id = 0;
    void* handle = nullptr;
};
bool StartChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                       ChildProcess* child);
int WaitChildProcess(ChildProcess* child);

}  // namespace kx
