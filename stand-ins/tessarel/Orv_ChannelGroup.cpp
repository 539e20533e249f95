#include "host/Orv_ChannelGroup.h"

Orv_ChannelGroup::Orv_ChannelGroup(const char* name) : name_(name != nullptr ? name : "") {}

const std::string& Orv_ChannelGroup::Name() const { return name_; }
