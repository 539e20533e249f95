// A pipe for a read that blocks in the kernel, in each system's own calls.
#pragma once

#include <cstdint>

namespace kestrion {

// An end of a pipe: a descriptor or a handle; kNoPipe for none.
using PipeEnd = std::intptr_t;
constexpr PipeEnd kNoPipe = -1;

// Both ends, or false.
bool OpenPipe(PipeEnd ends[2]);
// Blocks until a byte arrives or every write end is closed.
void ReadOneByte(PipeEnd end);
void ClosePipeEnd(PipeEnd end);

}  // namespace kestrion
