// Counts of what a process holds, for tests that check nothing is left behind.
#pragma once

#include <thread>

namespace kx {

// True where the Win32 calls are the system's own rather than our layer's.
extern const bool kSystemWin32;

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

// The process's address space (Linux, VmSize), or -1 where not counted.
long long AddressSpaceBytes();

// Blocks every signal of the calling thread while it lives, as a host that
// takes its signals in one thread does (nothing where there are none).
class AllSignalsBlocked {
public:
    AllSignalsBlocked();
    ~AllSignalsBlocked();
    AllSignalsBlocked(const AllSignalsBlocked&) = delete;
    AllSignalsBlocked& operator=(const AllSignalsBlocked&) = delete;

private:
    alignas(8) unsigned char saved_[128];  // the mask it restores
};

}  // namespace kx
