#include "kestrion/Pipe.h"

#include <fcntl.h>
#include <unistd.h>

namespace kestrion {

bool OpenPipe(PipeEnd ends[2]) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    ends[0] = fds[0];
    ends[1] = fds[1];
    return true;
}

void ReadOneByte(PipeEnd end) {
    char byte;
    (void)read(static_cast<int>(end), &byte, 1);
}

void ClosePipeEnd(PipeEnd end) {
    if (end != kNoPipe) close(static_cast<int>(end));
}

}  // namespace kestrion
