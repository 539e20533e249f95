// Reading the simulated suits' settings from the environment.
#pragma once

#include "kestrion/KestrionSim.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kestrion {

class Replay;

struct EnvironmentSettings {
    int suits = 2;
    bool initFails = false;
    std::set<int> noOpen;
    std::string callLog;  // a file that every call but the reads is appended to
    std::vector<std::shared_ptr<const Replay>> replays;  // played by suits 0, 1, ...
    // KESTRION_SIM_HANG: suit `hangSuit`'s reads hang after `hangAfter` good ones.
    int hangSuit = -1;
    KestrionSim::Hang hangHow = KestrionSim::Hang::Wait;
    int hangAfter = 0;
    int readMs = 0;  // KESTRION_SIM_READ_MS: how long each read takes
};

// Parses the KESTRION_SIM_* variables; false with `error` set on a bad value.
bool ReadEnvironment(EnvironmentSettings* settings, std::string* error);

}  // namespace kestrion
