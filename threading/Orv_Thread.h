// Base class for an object that owns one worker thread.
#pragma once

#include "abi/export.h"

#include <atomic>

class KX_PLUGIN_API Orv_Thread {
public:
    Orv_Thread();

    // A worker belongs to the object that started it, so copies never share
    // it: a copy starts idle (not running, no handle) and keeps only the
    // source's threadId; assignment leaves the target, and any worker of its
    // own, exactly as it was. No two objects ever wait for, terminate or
    // close one thread.
    Orv_Thread(const Orv_Thread& other);
    Orv_Thread& operator=(const Orv_Thread& other);

    // Stops a running worker with the base's own procedure, never an override.
    virtual ~Orv_Thread();

    // Sets `running`, then creates the worker, which calls Run().
    virtual void Start();
    // Pure, yet with a (do-nothing) body of its own: part of the exported
    // interface, which a derived class may call.
    virtual void Run() = 0;
    // Clears `running`, gives the worker 500 ms to end, terminates it (exit
    // code 0) if it has not, and closes its handle.
    virtual void Stop();

    bool Loop();

    // Read by the worker at every Loop() without a lock.
    std::atomic<bool> running;
    // The last thread created; kept after Stop.
    unsigned threadId;
    // Kernel handle of the worker; null when none is held.
    void* threadHandle;

protected:
    // The base's stop procedure, which Stop and the destructor run. False
    // only when the worker was to be terminated and the system refused: it
    // may still run, and touch whatever its Run uses. (Windows never
    // refuses; the Linux layer does when it cannot reach the thread.)
    bool StopWorker();
};

static_assert(sizeof(std::atomic<bool>) == 1, "running is one byte");
