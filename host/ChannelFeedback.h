// A channel's feedback to the host's user interface; plug-ins only pass it on.
#pragma once

#include "abi/export.h"

class KX_HOST_ENGINE_API ChannelFeedback {
public:
    virtual ~ChannelFeedback();
    virtual void Notify(int code);
};
