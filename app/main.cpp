// kestrion-host: loads the suit plug-in as a host engine does and shows,
// streams or records the suits.
#include "app/CommandLine.h"
#include "app/HostProgram.h"
#include "app/base/Failure.h"
#include "app/channel/SuitSession.h"
#include "app/platform/Console.h"
#include "app/platform/Interrupt.h"
#include "app/recording/AtomicFile.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    using namespace kxhost;
    kx::KeepStandardStreamsOpen();
    HostOptions options;
    const int parsed = CommandLine::Parse(argc, argv, &options);
    if (parsed >= 0) return parsed;

    kx::CatchInterrupts();
    SuitSession::OnAbandon(&AtomicFile::DiscardAll);
    try {
        HostProgram program(options, options.command != HostCommand::Info && kx::PrepareCursorControl());
        switch (options.command) {
            case HostCommand::Info: return program.Info();
            case HostCommand::Stream: return program.Stream();
            case HostCommand::Record: return program.Record();
            case HostCommand::View: return program.View();
        }
    } catch (const Failure& failure) {
        // Reached after the suits were reset and unfinished files removed.
        std::fprintf(stderr, "kestrion-host: %s\n", failure.what());
        return failure.ExitCode();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kestrion-host: %s\n", error.what());
        return kExitFailure;
    }
    return kExitFailure;
}
