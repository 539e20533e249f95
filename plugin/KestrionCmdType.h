// The catalogue of the suit channel's commands, for the host to list: each
// command's id, display name, and a description of its numbered children.
#pragma once

#include "abi/export.h"

#include <cstdint>
#include <string>
#include <vector>

class KX_PLUGIN_API KestrionCmdType {
public:
    enum CommandType : std::int32_t {
        CmdNone = 0,
        CmdConnect = 1,
        CmdDisconnect = 2,
        CmdGetData = 3,
        CmdGetNrOfSuits = 4,
        CmdSetNull = 5,
        CmdEnableUnevenTerrain = 6,
        CmdEnableJumping = 7,
        CmdSetNorth = 8,
        CmdReset = 9,
    };

    // Id CmdNone, empty name and description.
    KestrionCmdType();
    KestrionCmdType(CommandType id, const std::string& name, const std::string& description);
    KestrionCmdType(const KestrionCmdType& other);
    KestrionCmdType& operator=(const KestrionCmdType& other);
    virtual ~KestrionCmdType();

    CommandType Id() const;
    const std::string& Name() const;
    const std::string& Description() const;

    // Appends nine new descriptors, the whole catalogue, after whatever the
    // list holds. The caller owns them and deletes each one. Reads nothing of
    // this descriptor.
    void GetCommandTypes(std::vector<KestrionCmdType*>& list);

    CommandType id;
    std::string name;
    std::string description;
};
