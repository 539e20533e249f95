#include "support/ProcessInfo.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

extern char** environ;

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

int CloseStandardOutput() {
    std::fflush(stdout);
    const int saved = fcntl(1, F_DUPFD_CLOEXEC, 3);
    close(1);
    return saved;
}

bool StandardOutputIsClosed() { return fcntl(1, F_GETFD) == -1 && errno == EBADF; }

void RestoreStandardOutput(int saved) {
    if (saved < 0) return;
    dup2(saved, 1);
    close(saved);
}

bool StartChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                       ChildProcess* child) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
    child->id = pid;
    return true;
}

int WaitChildProcess(ChildProcess* child) {
    if (child->id == 0) return -1;
    int status = 0;
    const pid_t pid = static_cast<pid_t>(child->id);
    child->id = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kx
