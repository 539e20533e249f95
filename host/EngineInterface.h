// The part of the host engine that plug-ins call: its debug output.
#pragma once

#include "abi/export.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

// Shows one line of debug text. The text is NUL-terminated and need only
// live during the call; calls from several threads are shown one at a time.
class KX_HOST_ENGINE_API OrvDebugOutput {
public:
    constexpr OrvDebugOutput() : linesShown(0) {}
    void operator()(const char* text);

    // Lines shown so far.
    std::atomic<std::uint32_t> linesShown;
};

struct EngineInterface {
    std::uint32_t interfaceVersion;
    OrvDebugOutput ShowDebugMessage;  // 4 bytes in
};

static_assert(offsetof(EngineInterface, ShowDebugMessage) == 4, "fixed layout");

extern "C" KX_HOST_ENGINE_API EngineInterface* globalEngine;

// Where debug text goes: the sink is called with each text, one call at a
// time. A null sink restores the default, one line on standard error.
typedef void (*OrvDebugSink)(const char* text, void* context);
KX_HOST_ENGINE_API void OrvSetDebugSink(OrvDebugSink sink, void* context);
