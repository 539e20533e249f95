// The two entry points a host resolves by name after loading the plug-in.
#pragma once

#include "abi/export.h"
#include "host/ChannelType.h"
#include "host/Orv_Channel.h"

extern "C" {

// The channel type record, filled: name "KestrionUnique" and the type's
// GUID. Every call returns the same record.
KX_PLUGIN_API ChannelType* GetType();

// A new channel. The host destroys it through its virtual destructor.
KX_PLUGIN_API Orv_Channel* InitDLL();
}

typedef ChannelType* (*GetTypeFunction)();
typedef Orv_Channel* (*InitDLLFunction)();
