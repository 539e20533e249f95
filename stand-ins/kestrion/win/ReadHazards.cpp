// Windows has no loader walk with a callback, and no signals: a thread
// there can always be terminated.
#include "kestrion/ReadHazards.h"

namespace kestrion {

void InsideLoaderWalk(void (*body)(void*), void* context) { body(context); }

void BlockAllSignals() {}

void RestoreSignals() {}

}  // namespace kestrion
