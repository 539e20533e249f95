// The settings a run makes on its suits: what the command line or the page
// asks for.
#pragma once

namespace kxhost {

// A mode switch given on the command line, or left as the suit has it.
enum class Switch { Unchanged, On, Off };

struct SuitSettings {
    bool setNull = false;
    bool setNorth = false;
    Switch jumping = Switch::Unchanged;
    Switch unevenTerrain = Switch::Unchanged;
    Switch ignoreFloor = Switch::Unchanged;
};

}  // namespace kxhost
