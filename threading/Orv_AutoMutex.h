// Holds an Orv_Mutex from construction to destruction.
#pragma once

#include "abi/export.h"
#include "threading/Orv_Mutex.h"

class KX_PLUGIN_API Orv_AutoMutex {
public:
    explicit Orv_AutoMutex(Orv_Mutex& mutex);
    ~Orv_AutoMutex();

    Orv_AutoMutex(const Orv_AutoMutex&) = delete;
    Orv_AutoMutex& operator=(const Orv_AutoMutex&) = delete;

    Orv_Mutex& mutex;
};
