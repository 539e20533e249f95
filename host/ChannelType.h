// The host's descriptor of a channel type. The host reads it at fixed
// offsets, so the layout below is part of the interface.
#pragma once

#include "abi/export.h"
#include "host/OrvGuid.h"

#include <cstddef>
#include <cstdint>

struct KX_HOST_ENGINE_API ChannelType {
    // Gives every field a recognisable value, so a host can tell which ones a
    // plug-in has filled (see tessarel/ChannelType.cpp).
    ChannelType();

    char typeName[80];             // 0: 8-bit characters, zero-filled
    OrvGuid typeGuid;              // 80
    OrvGuid classGuid;             // 96
    std::uint32_t engineVersion;   // 112: the host's own
    std::uint32_t engineTag;       // 116: the host's own
    std::int32_t deviceChannel;    // 120
    std::int32_t userCreatable;    // 124
    std::uint32_t options;         // 128
    std::uint32_t hostReserved[3]; // 132: the host's own
};

static_assert(offsetof(ChannelType, typeName) == 0, "fixed layout");
static_assert(offsetof(ChannelType, typeGuid) == 80, "fixed layout");
static_assert(offsetof(ChannelType, classGuid) == 96, "fixed layout");
static_assert(offsetof(ChannelType, engineVersion) == 112, "fixed layout");
static_assert(offsetof(ChannelType, deviceChannel) == 120, "fixed layout");
static_assert(offsetof(ChannelType, userCreatable) == 124, "fixed layout");
static_assert(offsetof(ChannelType, options) == 128, "fixed layout");
