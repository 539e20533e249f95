// The suit library stand-in's own interface, beside the Gyro calls: how
// tests script it and read back what the plug-in did, and how a host
// program configures it from the environment.
//
// Without scripting, every GyroInit reads the environment:
//   KESTRION_SIM_SUITS    number of suits, -1024 to 1024 (default 2)
//   KESTRION_SIM_INIT     "ok" (default) or "fail": GyroInit fails
//   KESTRION_SIM_NO_OPEN  comma-separated suit indices that never open
//   KESTRION_SIM_CALL_LOG a file to append every call but GyroRead to, as
//                         Call::Text() lines, for end-to-end tests
//   KESTRION_SIM_REPLAY   comma-separated BVH files that suits 0, 1, ... play
//                         instead of walking (kestrion/replay/Replay.h)
//   KESTRION_SIM_HANG     SUIT:KIND:AFTER: that suit's reads hang for good
//                         after AFTER good ones (kestrion/Environment.h)
//   KESTRION_SIM_READ_MS  how long every read takes, 0 to 1000 ms
//                         (default 0): suits slower than their host
// An empty value counts as unset. A bad value is reported on standard
// error and makes GyroInit fail.
//
// Reset() switches to scripting: the environment is no longer read, and the
// defaults are a library that starts, three suits that all open, and reads
// that return at once. Every call is then logged, in order.
//
// Samples: see kestrion/motion/SuitMotion.h for units. leadWord counts the suit's
// samples from 1; tailWords[0] is a checksum of bytes 0 to 231 and
// tailWords[1] the suit index, so a torn copy is detectable (FrameIsWhole).
#pragma once

#include "driver/Frame.h"
#include "driver/Gyro.h"
#include "abi/export.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace KestrionSim {

// One call into the library. Arguments as numbers: the suit index for
// GyroEnumerateSuitInfo, and for GyroOpen the suit its info describes
// followed by the two reserved values; handles and flags as passed.
struct Call {
    std::string function;
    std::vector<long long> arguments;
    // When it was made (NowNs's clock).
    long long atNs = 0;
    // "GyroOpen(1, 0, 0)"
    std::string Text() const;
};

// How a hung read waits, each the way a real library might never return.
enum class Hang {
    Wait,   // on a condition variable
    Spin,   // spinning in this library's own code, calling nothing
    Mutex,  // on a plain mutex, held by the thread that asked for the hang
    Pipe,   // in read() on a pipe that nobody writes to
    // In a condition wait, without time-out, whose mutex GyroFinish takes
    // to stop the reader (as many libraries do), and so does the reader
    // thread's exit code (ReaderThreadExits).
    LockedWait,
    // On a condition variable inside a dl_iterate_phdr callback, holding
    // the loader's lock as a C++ unwinder's walk does. Linux only: a plain
    // wait elsewhere.
    LoaderWalk,
    // On a condition variable with every signal of its thread blocked; once
    // released it writes the rest of its sample, late, then returns. No
    // signals on Windows: a plain wait there.
    SignalsBlocked,
};

KX_SUIT_LIBRARY_API void Reset();
KX_SUIT_LIBRARY_API void SetInitResult(int result);
KX_SUIT_LIBRARY_API void SetSuitCount(int count);
KX_SUIT_LIBRARY_API void SetOpenFails(int suit, bool fails);

// The next read of `suit` writes the first half of a new sample, then waits
// until ReleaseRead(suit).
KX_SUIT_LIBRARY_API void BlockNextRead(int suit);
// Every later read of `suit` writes half a sample and never returns: until
// Reset, or until its thread is terminated. A hung read holds none of the
// library's own locks, so the library stays usable when its reader dies.
// Hang::Mutex is released only by the thread that asked for it;
// Hang::LockedWait also by GyroFinish.
KX_SUIT_LIBRARY_API void HangReads(int suit, Hang how = Hang::Wait);
// True once a read of `suit` is waiting (blocked or hung), within the bound.
KX_SUIT_LIBRARY_API bool WaitForWaitingRead(int suit, int timeoutMs);
KX_SUIT_LIBRARY_API void ReleaseRead(int suit);
// Reads that only copy one precomputed sample, unlogged: the cheapest read
// the library can make, for measuring the driver's own cost.
KX_SUIT_LIBRARY_API void SetFastReads(bool on);

KX_SUIT_LIBRARY_API std::vector<Call> Calls();
KX_SUIT_LIBRARY_API std::vector<std::string> CallTexts();
KX_SUIT_LIBRARY_API std::size_t CountCalls(const char* function);
KX_SUIT_LIBRARY_API void ClearCalls();
// Blocks until `function` has been called at least `count` times.
KX_SUIT_LIBRARY_API bool WaitForCalls(const char* function, std::size_t count, int timeoutMs);

// The handle GyroOpen gives `suit`.
KX_SUIT_LIBRARY_API GyroHandle HandleOf(int suit);
// Whether `frame` holds one whole sample as the library wrote it.
KX_SUIT_LIBRARY_API bool FrameIsWhole(const Frame& frame);
// When the library produced the sample now in `frame` (steady clock,
// nanoseconds), or -1 if unknown; for measuring frame age.
KX_SUIT_LIBRARY_API long long ProducedAtNs(const Frame& frame);
KX_SUIT_LIBRARY_API long long NowNs();

// How many threads ended inside a Hang::LockedWait read have run the
// library's per-thread exit code (which takes the reader's lock), since
// Reset.
KX_SUIT_LIBRARY_API std::size_t ReaderThreadExits();

// Called inside GyroFinish, after it is logged.
typedef void (*FinishHook)(void* context);
KX_SUIT_LIBRARY_API void SetFinishHook(FinishHook hook, void* context);

}  // namespace KestrionSim
