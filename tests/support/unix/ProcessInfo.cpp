#include "support/ProcessInfo.h"

#include <dirent.h>
#include <signal.h>

#include <fstream>
#include <string>

namespace kx {

const bool kSystemWin32 = false;

namespace {

int CountEntries(const char* directory) {
    DIR* d = opendir(directory);
    if (d == nullptr) return -1;
    int count = 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') ++count;
    }
    closedir(d);
    return count;
}

}  // namespace

int CountProcessThreads() { return CountEntries("/proc/self/task"); }

// The directory stream's own descriptor is counted too; it is the same on
// every call, so comparisons hold.
int CountOpenHandles() { return CountEntries("/proc/self/fd"); }

long long AddressSpaceBytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmSize:", 0) == 0) return std::stoll(line.substr(7)) * 1024;
    }
    return -1;
}

static_assert(sizeof(sigset_t) <= 128, "the saved mask fits");

AllSignalsBlocked::AllSignalsBlocked() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, reinterpret_cast<sigset_t*>(saved_));
}

AllSignalsBlocked::~AllSignalsBlocked() { pthread_sigmask(SIG_SETMASK, reinterpret_cast<sigset_t*>(saved_), nullptr); }

}  // namespace kx
