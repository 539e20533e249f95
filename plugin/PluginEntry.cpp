#include "plugin/PluginEntry.h"

#include "plugin/KestrionUnique.h"

#include <cstdio>
#include <cstring>

namespace {

// Built by the host's constructor while the library loads.
ChannelType channelType;

// {17C29F10-F50A-4E53-B293-EC4427BFE716}
const OrvGuid kTypeGuid = {0x17C29F10u, 0xF50Au, 0x4E53u, {0xB2, 0x93, 0xEC, 0x44, 0x27, 0xBF, 0xE7, 0x16}};

}  // namespace

ChannelType* GetType() {
    std::memset(channelType.typeName, 0, sizeof channelType.typeName);
    // Capacity 79, not 80: the field's last byte always stays zero.
    std::snprintf(channelType.typeName, 79, "%s", "KestrionUnique");
    channelType.deviceChannel = 1;
    channelType.userCreatable = 1;
    channelType.typeGuid = kTypeGuid;
    channelType.classGuid = kTypeGuid;
    channelType.options = 0;
    return &channelType;
}

Orv_Channel* InitDLL() { return new KestrionUnique; }
