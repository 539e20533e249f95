// A group of channels in the host; channels only hold a pointer to theirs.
#pragma once

#include "abi/export.h"

#include <string>

class KX_HOST_ENGINE_API Orv_ChannelGroup {
public:
    explicit Orv_ChannelGroup(const char* name = "");
    const std::string& Name() const;

private:
    std::string name_;
};
