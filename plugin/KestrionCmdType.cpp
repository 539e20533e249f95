#include "plugin/KestrionCmdType.h"

#include <memory>

namespace {

// One child per line: the suit, then where each of the frame's nineteen
// vectors goes.
const char* const kGetDataLines[20] = {
    "<Child #1> Suit nr\n",
    "<Child #2> Vector to store Position\n",
    "<Child #3> Vector to store Hips rotation\n",
    "<Child #4> Vector to store Left Hip rotation\n",
    "<Child #5> Vector to store Left knee rotation\n",
    "<Child #6> Vector to store Left Ankle rotation\n",
    "<Child #7> Vector to store Right Hip rotation\n",
    "<Child #8> Vector to store Right Knee rotation\n",
    "<Child #9> Vector to store Right Ankle rotation\n",
    "<Child #10> Vector to store Chest rotation\n",
    "<Child #11> Vector to store Left Collar rotation\n",
    "<Child #12> Vector to store Left Shoulder rotation\n",
    "<Child #13> Vector to store Left Elbow rotation\n",
    "<Child #14> Vector to store Left Wrist rotation\n",
    "<Child #15> Vector to store Right Collar rotation\n",
    "<Child #16> Vector to store Right Shoulder rotation\n",
    "<Child #17> Vector to store Right Elbow rotation\n",
    "<Child #18> Vector to store Right Wrist rotation\n",
    "<Child #19> Vector to store Neck rotation\n",
    "<Child #20> Vector to store Head rotation\n",
};

void Append(std::vector<KestrionCmdType*>& list, KestrionCmdType::CommandType id, const std::string& name,
            const std::string& description) {
    // Owned here until the list holds it, so a failing append frees it.
    std::unique_ptr<KestrionCmdType> entry(new KestrionCmdType(id, name, description));
    list.push_back(entry.get());
    entry.release();
}

}  // namespace

KestrionCmdType::KestrionCmdType() : id(CmdNone) {}

KestrionCmdType::KestrionCmdType(CommandType i, const std::string& n, const std::string& d)
    : id(i), name(n), description(d) {}

KestrionCmdType::KestrionCmdType(const KestrionCmdType& other) = default;

KestrionCmdType& KestrionCmdType::operator=(const KestrionCmdType& other) {
    id = other.id;
    name = other.name;
    description = other.description;
    return *this;
}

KestrionCmdType::~KestrionCmdType() = default;

KestrionCmdType::CommandType KestrionCmdType::Id() const { return id; }

const std::string& KestrionCmdType::Name() const { return name; }

const std::string& KestrionCmdType::Description() const { return description; }

void KestrionCmdType::GetCommandTypes(std::vector<KestrionCmdType*>& list) {
    const std::string suit = "<Child #1> Suit nr\n";
    std::string getData;
    for (const char* line : kGetDataLines) getData += line;

    Append(list, CmdConnect, "Connect to suit", "<Child #1> Suit nr (offset = 0)");
    Append(list, CmdDisconnect, "Disconnect from suit", "<Child #1> Suit nr (offset = 0)");
    Append(list, CmdGetNrOfSuits, "Get number of suits", "<Child #1> Value to store the number of connected suits");
    Append(list, CmdGetData, "Get data", getData);
    Append(list, CmdSetNull, "Set to NULL position", suit);
    Append(list, CmdEnableUnevenTerrain, "Enable uneven terrain", suit);
    Append(list, CmdEnableJumping, "Enable jumping", suit);
    // "borth" is the published display name; hosts show it as it is.
    Append(list, CmdSetNorth, "Set borth", suit);
    Append(list, CmdReset, "Reset", "Drops all connections and resets the driver");
}
