// The simulated suits' settings, set and read back the way a host program's
// environment gives them; every test starts and ends with them unset.
#pragma once

#include "kestrion/Environment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <string>

namespace kxtest {

class SimEnvironment : public ::testing::Test {
protected:
    SimEnvironment() { UnsetAll(); }
    ~SimEnvironment() override { UnsetAll(); }
    static void Set(const char* name, const char* value) {
        // putenv keeps the string itself: it must live on.
        static std::deque<std::string> kept;
        kept.push_back(std::string(name) + "=" + value);
        putenv(&kept.back()[0]);
    }
    // An empty value is how both platforms' putenv can say "unset".
    static void Unset(const char* name) { Set(name, ""); }
    static void UnsetAll() {
        for (const char* v :
             {"KESTRION_SIM_SUITS", "KESTRION_SIM_INIT", "KESTRION_SIM_NO_OPEN", "KESTRION_SIM_REPLAY",
                              "KESTRION_SIM_HANG"}) {
            Unset(v);
        }
    }
    bool Read() { return kestrion::ReadEnvironment(&settings, &error); }

    kestrion::EnvironmentSettings settings;
    std::string error;
};

}  // namespace kxtest
