// Collects the host's debug output for a test, and scripts the simulated
// suit library afresh, for every test that uses it.
#pragma once

#include "host/EngineInterface.h"
#include "kestrion/KestrionSim.h"
#include "support/Handoffs.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kxtest {

class DebugMessages {
public:
    DebugMessages() { OrvSetDebugSink(&DebugMessages::Sink, this); }
    ~DebugMessages() { OrvSetDebugSink(nullptr, nullptr); }

    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> guard(lock_);
        return std::exchange(lines_, {});
    }

private:
    static void Sink(const char* text, void* self) {
        auto* messages = static_cast<DebugMessages*>(self);
        std::lock_guard<std::mutex> guard(messages->lock_);
        messages->lines_.emplace_back(text);
    }

    std::mutex lock_;
    std::vector<std::string> lines_;
};

// A scripted suit library (three suits that start and open, unless a test
// says otherwise) and the debug messages of one test.
class SuitLibraryTest : public ::testing::Test {
protected:
    SuitLibraryTest() { KestrionSim::Reset(); }
    ~SuitLibraryTest() override { KestrionSim::Reset(); }

    // The calls made since the last look, as text.
    std::vector<std::string> NewCalls() {
        std::vector<std::string> calls = KestrionSim::CallTexts();
        KestrionSim::ClearCalls();
        return calls;
    }

    DebugMessages messages;
};

using Texts = std::vector<std::string>;

// Polls `channel` until `suit` gives a whole sample, left in `f`.
template <typename Channel>
bool WholeFrameArrives(Channel& channel, int suit, Frame& f) {
    return Eventually([&] {
        channel.GetData(suit, f);
        return KestrionSim::FrameIsWhole(f);
    });
}

}  // namespace kxtest
