#include "app/CommandLine.h"

#include "app/HostProgram.h"
#include "app/base/Failure.h"
#include "app/osc/OscSender.h"
#include "app/platform/Files.h"
#include "app/recording/Recording.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace kxhost {
namespace {

constexpr double kMaxRate = 1000;
constexpr double kMaxSeconds = 86400;

// Decimal only: strtod alone also takes hex, "inf" and leading blanks.
bool ToNumber(const std::string& text, double* value) {
    if (text.empty() || text.find_first_not_of("0123456789.eE+-") != std::string::npos ||
        text.find_first_of("0123456789.") != 0) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(*value);
}

// A number greater than 0 and at most `max`.
CLI::Validator Positive(double max) {
    char limit[32];
    std::snprintf(limit, sizeof limit, "%g", max);
    return CLI::Validator(
        [max, limit = std::string(limit)](std::string& text) -> std::string {
            double value = 0;
            if (!ToNumber(text, &value) || value <= 0 || value > max) {
                return "must be a number greater than 0 and at most " + limit + ", not '" + text + "'";
            }
            return "";
        },
        "", "positive");
}

// The items of a --suits list; none empty.
bool ToSuits(const std::string& list, std::vector<int>* suits) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string item = list.substr(start, comma - start);
        if (item.empty() || item.find_first_not_of("0123456789") != std::string::npos || item.size() > 4 ||
            std::stoi(item) > 1023) {
            return false;
        }
        suits->push_back(std::stoi(item));
        if (comma == list.size()) return true;
        start = comma + 1;
    }
}

CLI::Validator SuitIndices() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            std::vector<int> suits;
            return ToSuits(text, &suits) ? "" : "suit indices are whole numbers from 0 to 1023, not '" + text + "'";
        },
        "", "suit indices");
}

CLI::Validator OnOff() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return text == "on" || text == "off" ? "" : "must be on or off, not '" + text + "'";
        },
        "", "on or off");
}

struct Switches {
    std::string jumping, unevenTerrain, ignoreFloor;
    std::vector<std::string> suitLists;  // CLI11's own splitting drops empty items
};

Switch ToSwitch(const std::string& text) {
    if (text.empty()) return Switch::Unchanged;
    return text == "on" ? Switch::On : Switch::Off;
}

// The options of the two commands that read suits.
void AddSuitOptions(CLI::App* command, HostOptions* options, Switches* switches, const char* secondsHelp) {
    command->add_option("--suits", switches->suitLists, "Suit indices to use, separated by commas (default: all found)")
        ->type_name("0,2")
        ->allow_extra_args(false)  // the file name after "--suits 0" is the file's
        ->check(SuitIndices());
    command->add_option("--rate", options->rate, "Frames read per second (default 40)")
        ->type_name("HZ")
        ->check(Positive(kMaxRate));
    command->add_option("--seconds", options->seconds, secondsHelp)->type_name("S")->check(Positive(kMaxSeconds));
    command->add_flag("--set-null", options->settings.setNull, "Make each suit's present place its null position");
    command->add_flag("--set-north", options->settings.setNorth, "Make each suit's present heading its north");
    command->add_option("--jumping", switches->jumping, "Jumping mode")->type_name("on|off")->check(OnOff());
    command->add_option("--uneven-terrain", switches->unevenTerrain, "Uneven terrain mode")
        ->type_name("on|off")
        ->check(OnOff());
    command->add_option("--ignore-floor", switches->ignoreFloor, "Ignore floor mode")
        ->type_name("on|off")
        ->check(OnOff());
    command
        ->add_option("--osc", options->osc,
                     OscSender::Available()
                         ? "Also send the frames live to HOST:PORT in the VMC protocol over OSC, suit k to PORT+k "
                           "(repeatable)"
                         : "Send the frames over OSC (VMC): Linux only, not in this Windows program")
        ->type_name("HOST:PORT")
        ->allow_extra_args(false)
        ->transform(CLI::Validator([](std::string& text) { return OscSender::CheckDestination(text); }, "", "osc"));
}

const char kFooter[] =
    "Exit codes: 0 done (a stream stopped by Ctrl-C included), 1 the plug-in, the suits or a file failed,\n"
    "2 bad command line or no such suit, 128+N recording stopped by signal N (130 Ctrl-C; nothing written).\n"
    "Simulated suits: KESTRION_SIM_SUITS=N (default 2), KESTRION_SIM_INIT=fail, KESTRION_SIM_NO_OPEN=1,3,\n"
    "KESTRION_SIM_HANG=SUIT:KIND:AFTER (KIND wait, spin, mutex or pipe), KESTRION_SIM_READ_MS=N.";

void ReportError(const std::string& message) {
    std::fprintf(stderr, "kestrion-host: %s (see --help)\n", message.c_str());
}

}  // namespace

int CommandLine::Parse(int argc, const char* const* argv, HostOptions* options) {
    CLI::App app{"Loads the suit plug-in as a host engine does and puts the suits to work.", "kestrion-host"};
    app.footer(kFooter);
    app.get_formatter()->label("SUBCOMMAND", "COMMAND");
    app.get_formatter()->label("Positionals", "Arguments");
    app.require_subcommand(0, 1);
    app.fallthrough();  // --plugin also after the command
    app.add_option("--plugin", options->plugin,
                   "The plug-in library (default: the one beside this program, or in " KX_PLUGIN_FROM_PROGRAM
                   " from its folder)")
        ->type_name("PATH");
    app.set_version_flag("--version", "kestrion-host " KX_VERSION, "Print the version and exit");

    CLI::App* info = app.add_subcommand("info", "Show the channel type, its dependencies and its command catalogue");

    Switches switches;
    CLI::App* stream = app.add_subcommand("stream", "Show the suits' frames live until Ctrl-C or --seconds");
    AddSuitOptions(stream, options, &switches, "Stop after S seconds (default: at Ctrl-C)");

    CLI::App* record = app.add_subcommand(
        "record", "Record the suits to FILE: .bvh (one file per suit, FILE-suitN.bvh, when several) or .csv");
    record->add_option("FILE", options->file, "The recording, ending in .bvh or .csv")
        ->required()
        ->type_name("")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                if (Recording::FormatOf(text) == Recording::Format::None) {
                    return "a recording ends in .bvh or .csv: '" + text + "'";
                }
                // ".bvh" alone would make the files "-suit0.bvh", ...
                if (text.size() - kx::NameStart(text) == 4) {
                    return "a recording needs a name before its ending: '" + text + "'";
                }
                return "";
            },
            "", "recording"));
    AddSuitOptions(record, options, &switches, "Record S seconds (default 5)");
    record->add_flag("--force", options->force, "Overwrite existing files");

    CLI::App* view = app.add_subcommand(
        "view", kNoView == nullptr ? "Show the suits in 3D in a browser, with their controls" : kNoView);
    if (kNoView == nullptr) {
        AddSuitOptions(view, options, &switches, "Stop after S seconds (default: at Ctrl-C)");
        view->add_option("--port", options->port, "The page's port (default 8417; 0 picks a free one)")
            ->type_name("PORT")
            ->check(CLI::Range(0, 65535));
        view->add_option("--listen", options->listen,
                         "The address to serve on (default 127.0.0.1: this machine only; others get a warning)")
            ->type_name("ADDR");
    }

    for (CLI::App* command : {info, stream, record, view}) command->group("Commands");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return app.exit(error);  // --help, --version
        ReportError(error.what());
        return kExitUsage;
    }

    if (*info) {
        options->command = HostCommand::Info;
    } else if (*stream) {
        options->command = HostCommand::Stream;
    } else if (*record) {
        options->command = HostCommand::Record;
        if (options->seconds < 0) options->seconds = 5;
    } else if (*view) {
        if (kNoView != nullptr) {
            ReportError(kNoView);
            return kExitUsage;
        }
        options->command = HostCommand::View;
    } else {
        ReportError("a command is needed: info, stream, record or view");
        return kExitUsage;
    }

    for (const std::string& list : switches.suitLists) ToSuits(list, &options->suits);
    // A rate slower than one frame in the run would record nothing true.
    const double span = options->seconds < 0 ? kMaxSeconds : options->seconds;
    if (options->rate * span < 1) {
        char text[160];
        std::snprintf(text, sizeof text, "--rate %g and --seconds %g make less than one frame", options->rate,
                      span);
        ReportError(text);
        return kExitUsage;
    }
    std::set<int> seen;
    for (int suit : options->suits) {
        if (!seen.insert(suit).second) {
            ReportError("--suits: suit " + std::to_string(suit) + " is listed twice");
            return kExitUsage;
        }
    }
    options->settings.jumping = ToSwitch(switches.jumping);
    options->settings.unevenTerrain = ToSwitch(switches.unevenTerrain);
    options->settings.ignoreFloor = ToSwitch(switches.ignoreFloor);
    return -1;
}

}  // namespace kxhost
