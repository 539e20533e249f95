// The requests to end a run (Ctrl-C; on Linux also SIGTERM, SIGHUP and the
// other signals that would end the program) as something the program polls
// for, so a run can end cleanly: suits reset, unfinished files removed.
#pragma once

namespace kx {

// From now on the first such request only sets it; a second one, of any
// kind, ends the program the system's way, for when the clean ending itself
// hangs. On Linux SIGPIPE is ignored: a write to a closed pipe fails
// instead, and the program reports it through OutputClosed.
void CatchInterrupts();

// Whether a request has come since CatchInterrupts.
bool InterruptRequested();
// What asked for it: "Ctrl-C", "SIGTERM", ...; null while nothing has.
const char* InterruptName();
// The exit code of a run ended that way: 128 and the signal's number, as
// shells count a death by it (130 for Ctrl-C).
int InterruptExitCode();

// Standard output or error is a pipe that nobody reads any more: the run
// ends as it would on SIGPIPE.
void OutputClosed();

// Ends the process at once, with no destructors and no library's exit
// code: for when a thread stuck in another library cannot be stopped.
[[noreturn]] void ExitNow(int code);

}  // namespace kx
