// Ways a hung read makes itself hard to end, in each system's own calls.
#pragma once

namespace kestrion {

// Runs `body(context)` inside a walk of the loaded modules (holding the
// loader's lock, as a C++ unwinder's walk does); where the system has no
// such walk, runs it plainly.
void InsideLoaderWalk(void (*body)(void*), void* context);

// Blocks every signal of the calling thread, until RestoreSignals; nothing
// where the system has no signals.
void BlockAllSignals();
void RestoreSignals();

}  // namespace kestrion
