// A pipe for a read that blocks in the kernel, in each system's own calls.
#pragma once

namespace kestrion {

// Both ends, or false.
bool OpenPipe(int ends[2]);
// Blocks until a byte arrives or every write end is closed.
void ReadOneByte(int end);
void ClosePipeEnd(int end);

}  // namespace kestrion
