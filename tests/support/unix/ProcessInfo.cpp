#include "support/ProcessInfo.h"

#include <dirent.h>

namespace kx {
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

}  // namespace kx
