#include "threading/Orv_AutoMutex.h"

Orv_AutoMutex::Orv_AutoMutex(Orv_Mutex& m) : mutex(m) { mutex.WaitForSingleObject(); }

Orv_AutoMutex::~Orv_AutoMutex() { mutex.Release(); }
