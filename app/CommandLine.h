// The program's command line: commands, options and their checks.
#pragma once

#include "app/HostOptions.h"

namespace kxhost {

class CommandLine {
public:
    // Fills `options` and returns -1 when there is work to do. Otherwise the
    // program's exit code: 0 after printing help, kExitUsage after a
    // one-line error on standard error.
    static int Parse(int argc, const char* const* argv, HostOptions* options);
};

}  // namespace kxhost
