// Holds "KestrionMutex" on the test's thread, so that no polling pass runs
// unless the test lets one; the driver's own operations on this thread
// re-enter it.
#pragma once

#include "threading/Orv_Mutex.h"

namespace kxtest {

class DriverMutexHold {
public:
    DriverMutexHold() {
        mutex_.Create("KestrionMutex");
        mutex_.WaitForSingleObject();
    }
    ~DriverMutexHold() { mutex_.Release(); }
    DriverMutexHold(const DriverMutexHold&) = delete;
    DriverMutexHold& operator=(const DriverMutexHold&) = delete;

    void Let() { mutex_.Release(); }
    void Hold() { mutex_.WaitForSingleObject(); }

private:
    Orv_Mutex mutex_;
};

}  // namespace kxtest
