// Why the program ends early: a one-line message for standard error and the
// exit code that goes with it.
#pragma once

#include <stdexcept>
#include <string>

namespace kxhost {

enum ExitCode {
    kExitOk = 0,
    kExitFailure = 1,  // the plug-in, the suits or a file let us down
    kExitUsage = 2,    // the command line asks for something impossible
};
// A recording stopped by a signal exits as shells count a death by it:
// kx::InterruptExitCode().

class Failure : public std::runtime_error {
public:
    Failure(int exitCode, const std::string& message) : std::runtime_error(message), exitCode_(exitCode) {}
    int ExitCode() const { return exitCode_; }

private:
    int exitCode_;
};

}  // namespace kxhost
