#include "threading/Orv_Thread.h"

#include "win32/win32.h"

namespace {

unsigned __stdcall ThreadEntry(void* object) {
    static_cast<Orv_Thread*>(object)->Run();
    return 0;
}

}  // namespace

Orv_Thread::Orv_Thread() : running(false), threadId(0), threadHandle(nullptr) {}

Orv_Thread::Orv_Thread(const Orv_Thread& other)
    : running(false), threadId(other.threadId), threadHandle(nullptr) {}

Orv_Thread& Orv_Thread::operator=(const Orv_Thread&) { return *this; }

Orv_Thread::~Orv_Thread() { StopWorker(); }

void Orv_Thread::Start() {
    running = true;
    threadHandle = reinterpret_cast<void*>(
        _beginthreadex(nullptr, 0, ThreadEntry, this, 0, &threadId));
}

void Orv_Thread::Run() {}

void Orv_Thread::Stop() { StopWorker(); }

bool Orv_Thread::Loop() { return running; }

bool Orv_Thread::StopWorker() {
    if (!running) return true;
    running = false;
    bool ended = true;
    if (::WaitForSingleObject(threadHandle, 500) == WAIT_TIMEOUT) {
        ended = ::TerminateThread(threadHandle, 0) != FALSE;
    }
    ::CloseHandle(threadHandle);
    threadHandle = nullptr;
    return ended;
}
