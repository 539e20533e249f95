#include "support/ProcessInfo.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <tlhelp32.h>
#include <io.h>

#include <cstdio>

namespace kx {

int CountProcessThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    const DWORD self = GetCurrentProcessId();
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == self) ++count;
    }
    CloseHandle(snapshot);
    return count;
}

int CountOpenHandles() {
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) ? static_cast<int>(count) : -1;
}

bool StartChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                       ChildProcess* child) {
    std::string line = "\"" + program + "\"";
    for (const std::string& a : arguments) line += " \"" + a + "\"";
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    child->id = info.dwProcessId;
    child->handle = info.hProcess;
    return true;
}

int CloseStandardOutput() {
    std::fflush(stdout);
    const int saved = _dup(1);
    _close(1);
    return saved;
}

bool StandardOutputIsClosed() { return _get_osfhandle(1) == -1; }

void RestoreStandardOutput(int saved) {
    if (saved < 0) return;
    _dup2(saved, 1);
    _close(saved);
}

int WaitChildProcess(ChildProcess* child) {
    if (child->handle == nullptr) return -1;
    WaitForSingleObject(child->handle, INFINITE);
    DWORD code = 0;
    const bool ok = GetExitCodeProcess(child->handle, &code);
    CloseHandle(child->handle);
    child->handle = nullptr;
    return ok ? static_cast<int>(code) : -1;
}

}  // namespace kx
