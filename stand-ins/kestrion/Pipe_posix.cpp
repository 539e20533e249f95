#include "kestrion/Pipe.h"

#include <fcntl.h>
#include <unistd.h>

namespace kestrion {

bool OpenPipe(int ends[2]) { return pipe2(ends, O_CLOEXEC) == 0; }

void ReadOneByte(int end) {
    char byte;
    (void)read(end, &byte, 1);
}

void ClosePipeEnd(int end) {
    if (end >= 0) close(end);
}

}  // namespace kestrion
