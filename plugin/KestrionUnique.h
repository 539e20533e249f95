// The suit channel: a host channel that holds one suit driver and maps the
// host's device operations onto it.
//
// All operations run on the host's thread, one at a time per channel; the
// driver's worker polls the suits beside them.
#pragma once

#include "abi/export.h"
#include "driver/Frame.h"
#include "driver/KestrionThread.h"
#include "host/Orv_Channel.h"

class KX_PLUGIN_API KestrionUnique : public Orv_Channel {
public:
    // Named "KestrionUnique", with an idle driver: no thread, no library call.
    KestrionUnique();

    // A copy carries the base's state (its name included) and an idle driver
    // of its own; assignment copies the base's state and leaves the target's
    // driver as it was. A channel never stops or frees another's driver.
    KestrionUnique(const KestrionUnique& other);
    KestrionUnique& operator=(const KestrionUnique& other);

    // Destroys the driver (ending its worker), then the base. No Reset.
    ~KestrionUnique() override;

    void CallChannel() override;
    bool SaveChannel(OrvFileSaver& saver) override;
    bool LoadChannel(OrvFileLoader& loader, Orv_ChannelGroup* group) override;
    // Declares "Kestrion.dll", "Quorbit.dll" and "isense.dll", in order.
    void DoDependencyInit(Orv_List* list) override;

    // Starts an idle driver first, then opens the suit.
    void Connect(int suit);
    void Disconnect(int suit);
    // Stops the driver, whether or not it runs: the next Connect starts afresh.
    void Reset();
    int GetNrOfSuits();
    // The suit's newest frame; `frame` is left as it was for an index out of
    // range. Never waits for a polling pass.
    void GetData(int suit, Frame& frame);
    void SetNull(int suit);
    void SetNorth(int suit);
    void EnableUnevenTerrain(int suit, bool on);
    void EnableIgnoreFloor(int suit, bool on);
    // Spelled so in the host's interface (the driver says EnableJumping);
    // hosts resolve it by this name.
    void EnabelJumping(int suit, bool on);

    KestrionThread driver;
};
