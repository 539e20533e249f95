// What the command line asks for, checked and ready to run.
#pragma once

#include "app/channel/SuitSettings.h"

#include <string>
#include <vector>

namespace kxhost {

enum class HostCommand { Info, Stream, Record, View };

struct HostOptions {
    HostCommand command = HostCommand::Info;
    std::string plugin;      // empty: the one beside the program
    std::vector<int> suits;  // empty: every suit the library finds
    double rate = 40;        // frames per second
    double seconds = -1;     // negative: until Ctrl-C
    bool force = false;
    std::string file;
    std::vector<std::string> osc;  // numeric ADDRESS:PORT, one per --osc
    SuitSettings settings;
    // view: where the page is served
    std::string listen = "127.0.0.1";
    int port = 8417;
};

}  // namespace kxhost
