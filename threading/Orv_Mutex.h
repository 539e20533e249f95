// One kernel mutex, unnamed or named, created on request.
#pragma once

#include "abi/export.h"

class KX_PLUGIN_API Orv_Mutex {
public:
    Orv_Mutex();

    // A copy gets its own duplicate of the kernel handle: both objects use
    // the same kernel mutex and each closes only its own handle. Assignment
    // closes the target's handle first, then duplicates the source's.
    Orv_Mutex(const Orv_Mutex& other);
    Orv_Mutex& operator=(const Orv_Mutex& other);

    // Closes the handle, if one is held.
    virtual ~Orv_Mutex();

    // Creates the kernel mutex (not owned) unless one is held already. With a
    // name, every mutex of that name is one lock; a null name makes a mutex
    // that nothing else can reach.
    void Create(const char* name);
    // Blocks until this thread owns the mutex; re-entrant for the owner. A
    // mutex whose owner died is acquired like any other.
    void WaitForSingleObject();
    // Releases one acquisition; ignored when this thread is not the owner.
    void Release();

    // Kernel mutex handle; null until Create succeeds.
    void* handle;
};
