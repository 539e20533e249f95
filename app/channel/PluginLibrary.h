// A suit plug-in loaded the way a host engine loads it: by path at run
// time, used only through its two entry points and its exported members,
// which are resolved by their (Itanium ABI) names. Nothing here links to the
// plug-in library.
#pragma once

#include "abi/export.h"
#include "app/platform/DynamicLibrary.h"
#include "driver/Frame.h"
#include "host/ChannelType.h"
#include "host/Orv_Channel.h"
#include "plugin/KestrionCmdType.h"
#include "plugin/KestrionUnique.h"
#include "plugin/PluginEntry.h"

#include <memory>
#include <string>
#include <vector>

namespace kxhost {

// The channel's device operations, as resolved from the library.
struct ChannelOperations {
    void (KestrionUnique::*connect)(int) = nullptr;
    void (KestrionUnique::*disconnect)(int) = nullptr;
    void (KestrionUnique::*reset)() = nullptr;
    int (KestrionUnique::*getNrOfSuits)() = nullptr;
    void (KestrionUnique::*getData)(int, Frame&) = nullptr;
    void (KestrionUnique::*setNull)(int) = nullptr;
    void (KestrionUnique::*setNorth)(int) = nullptr;
    void (KestrionUnique::*enableUnevenTerrain)(int, bool) = nullptr;
    void (KestrionUnique::*enableIgnoreFloor)(int, bool) = nullptr;
    void (KestrionUnique::*enabelJumping)(int, bool) = nullptr;
};

// One channel made by the plug-in's InitDLL; destroyed through its virtual
// destructor, so the plug-in frees it with its own allocator.
class SuitChannel {
public:
    SuitChannel(Orv_Channel* channel, const ChannelOperations* operations);
    ~SuitChannel();
    SuitChannel(const SuitChannel&) = delete;
    SuitChannel& operator=(const SuitChannel&) = delete;

    Orv_Channel* Base() { return channel_; }

    void Connect(int suit);
    void Disconnect(int suit);
    void Reset();
    int GetNrOfSuits();
    void GetData(int suit, Frame& frame);
    void SetNull(int suit);
    void SetNorth(int suit);
    void EnableUnevenTerrain(int suit, bool on);
    void EnableIgnoreFloor(int suit, bool on);
    void EnableJumping(int suit, bool on);

private:
    KestrionUnique* Self();

    Orv_Channel* channel_;
    const ChannelOperations* ops_;
};

// One entry of the plug-in's command catalogue.
struct Command {
    int id = 0;
    std::string name;
    std::string description;
};

class PluginLibrary {
public:
    // Loads the library and resolves every entry point and member; false,
    // with a message naming what is wrong, otherwise.
    bool Load(const std::string& path, std::string* error);

    ChannelType* GetType() const { return getType_(); }
    std::unique_ptr<SuitChannel> NewChannel() const;
    // The catalogue, read through KestrionCmdType and released again.
    std::vector<Command> Commands() const;

private:
    struct CatalogueOperations {
        void(KX_THISCALL* construct)(void*) = nullptr;
        void (KestrionCmdType::*getCommandTypes)(std::vector<KestrionCmdType*>&) = nullptr;
        KestrionCmdType::CommandType (KestrionCmdType::*id)() const = nullptr;
        const std::string& (KestrionCmdType::*name)() const = nullptr;
        const std::string& (KestrionCmdType::*description)() const = nullptr;
    };

    kx::DynamicLibrary library_;
    GetTypeFunction getType_ = nullptr;
    InitDLLFunction initDll_ = nullptr;
    ChannelOperations channel_;
    CatalogueOperations catalogue_;
};

// The expected identity of the suit channel type.
extern const char kChannelTypeName[];
extern const unsigned char kChannelTypeGuid[16];

}  // namespace kxhost
