#include "kestrion/Pipe.h"

#include <fcntl.h>
#include <io.h>

namespace kestrion {

bool OpenPipe(int ends[2]) { return _pipe(ends, 64, _O_BINARY | _O_NOINHERIT) == 0; }

void ReadOneByte(int end) {
    char byte;
    (void)_read(end, &byte, 1);
}

void ClosePipeEnd(int end) {
    if (end >= 0) _close(end);
}

}  // namespace kestrion
