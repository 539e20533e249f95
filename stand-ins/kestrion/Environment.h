// Reading the simulated suits' settings from the environment.
#pragma once

#include <set>
#include <string>

namespace kestrion {

struct EnvironmentSettings {
    int suits = 2;
    bool initFails = false;
    std::set<int> noOpen;
};

// Parses the KESTRION_SIM_* variables; false with `error` set on a bad value.
bool ReadEnvironment(EnvironmentSettings* settings, std::string* error);

}  // namespace kestrion
