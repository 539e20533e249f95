// Ctrl-C (and, on Linux, SIGTERM) as a request the program polls for, so a
// run can end cleanly: suits reset, unfinished files removed.
#pragma once

namespace kx {

// From now on the first Ctrl-C only sets the request; a second one ends the
// program the system's way, for when the clean ending itself hangs.
void CatchInterrupts();

// Whether Ctrl-C has been pressed since CatchInterrupts.
bool InterruptRequested();

}  // namespace kx
