// The Win32 kernel and C runtime calls that the plug-in uses.
//
// On Windows these are the system's own. On Linux they come from our layer
// (win32/linux/) with the behaviour the thread and mutex classes rely on:
// recursive mutexes that can be shared by name and pass to the next waiter
// when their owner dies, bounded waits for threads, and TerminateThread that
// really ends a thread without taking the process down with it (and says
// FALSE, as Windows never does, for a thread that keeps the signal away).
#pragma once

#ifdef _WIN32
#include "win32/win/api.h"
#else
#include "win32/linux/api.h"
#endif
