#include "host/ChannelType.h"

#include <cstring>

// Values no plug-in would write, so a host (or a test) can see which fields a
// plug-in filled and which it left alone.
ChannelType::ChannelType() {
    std::memset(typeName, 0, sizeof typeName);
    std::strcpy(typeName, "<unregistered channel type>");
    std::memset(&typeGuid, 0, sizeof typeGuid);
    std::memset(&classGuid, 0, sizeof classGuid);
    engineVersion = 0x00030001u;  // engine 3.1
    engineTag = 0x4C525354u;      // "TSRL" in memory
    deviceChannel = -1;
    userCreatable = -1;
    options = 0xFFFFFFFFu;
    hostReserved[0] = hostReserved[1] = hostReserved[2] = 0xA5A5A5A5u;
}
