// Reading the simulated suits' settings from the environment.
#pragma once

#include "kestrion/KestrionSim.h"

#include <set>
#include <string>

namespace kestrion {

struct EnvironmentSettings {
    int suits = 2;
    bool initFails = false;
    std::set<int> noOpen;
    // KESTRION_SIM_HANG: suit `hangSuit`'s reads hang after `hangAfter` good ones.
    int hangSuit = -1;
    KestrionSim::Hang hangHow = KestrionSim::Hang::Wait;
    int hangAfter = 0;
};

// Parses the KESTRION_SIM_* variables; false with `error` set on a bad value.
bool ReadEnvironment(EnvironmentSettings* settings, std::string* error);

}  // namespace kestrion
