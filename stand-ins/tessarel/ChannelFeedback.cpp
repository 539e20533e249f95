#include "host/ChannelFeedback.h"

ChannelFeedback::~ChannelFeedback() = default;

void ChannelFeedback::Notify(int) {}
