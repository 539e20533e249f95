// What the program may do with its standard output: redraw lines in place
// on a terminal, or only append plain lines to a file or pipe.
#pragma once

namespace kx {

// True when standard output is a terminal that understands the cursor
// movements of ANSI escape sequences; on the Windows console this also
// switches them on.
bool PrepareCursorControl();

// The width of the terminal on standard output, or 0 when unknown.
int TerminalColumns();

// Opens the null device on any standard stream the program was started
// without, so that no file the program opens later takes its place and
// receives its output.
void KeepStandardStreamsOpen();

}  // namespace kx
