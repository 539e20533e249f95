// The Windows program has no view: Debian builds its web server library
// for Linux only.
#include "app/HostProgram.h"
#include "app/base/Failure.h"

namespace kxhost {

extern const char* const kNoView = "the view is Linux only: this Windows build has no web server";

int HostProgram::View() { throw Failure(kExitUsage, kNoView); }

}  // namespace kxhost
