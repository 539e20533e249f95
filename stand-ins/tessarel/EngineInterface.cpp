#include "host/EngineInterface.h"

#include <cstdio>
#include <mutex>

namespace {

// Constant-initialised, so it is usable from any other library's static
// initialisation or destruction.
struct SinkState {
    std::mutex lock;
    OrvDebugSink sink = nullptr;
    void* context = nullptr;
};
SinkState sinkState;

SinkState& Sink() { return sinkState; }

EngineInterface engine{2u, {}};

}  // namespace

EngineInterface* globalEngine = &engine;

void OrvDebugOutput::operator()(const char* text) {
    SinkState& s = Sink();
    std::lock_guard<std::mutex> guard(s.lock);
    linesShown.fetch_add(1, std::memory_order_relaxed);
    if (s.sink != nullptr) {
        s.sink(text, s.context);
    } else {
        std::fprintf(stderr, "%s\n", text);
        std::fflush(stderr);
    }
}

void OrvSetDebugSink(OrvDebugSink sink, void* context) {
    SinkState& s = Sink();
    std::lock_guard<std::mutex> guard(s.lock);
    s.sink = sink;
    s.context = context;
}
