// What the reference model (model_test) cannot see of the suit driver: its
// timing, its settings against a pass, the order of its stop and its
// destruction. The calls, messages and frames of every operation are the
// model's to check; copies of the channel the channel test's.
#include "driver/KestrionThread.h"
#include "driver/SuitRecord.h"
#include "support/Handoffs.h"
#include "support/SuitLibraryTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <thread>
#include <vector>

using kxtest::Eventually;
using kxtest::Texts;
using namespace std::chrono_literals;

namespace {

class Driver : public kxtest::SuitLibraryTest {
protected:
    // Starts the driver with `suits` suits and forgets the start's calls and messages.
    void StartWith(int suits) {
        KestrionSim::SetSuitCount(suits);
        driver.Start();
        NewCalls();
        messages.Take();
    }

    KestrionThread driver;
};

}  // namespace

// The library's log times each read: one suit means one read per pass.
// Passes are never closer than the 25 ms pause; a loaded machine stretches
// some of them, but the closest of twenty comes within a few milliseconds
// (a 30 ms pause would not).
TEST_F(Driver, PassesArePausedTwentyFiveMillisecondsApart) {
    StartWith(1);
    driver.Connect(0);
    ASSERT_TRUE(KestrionSim::WaitForCalls("GyroRead", 21, 10000));
    std::vector<long long> at;
    for (const KestrionSim::Call& c : KestrionSim::Calls()) {
        if (c.function == "GyroRead") at.push_back(c.atNs);
    }
    std::vector<double> gapsMs;
    for (std::size_t i = 1; i < at.size(); ++i) gapsMs.push_back((at[i] - at[i - 1]) / 1e6);
    const double closest = *std::min_element(gapsMs.begin(), gapsMs.end());
    EXPECT_GE(closest, 24.0);
    EXPECT_LT(closest, 30.0);
}

// A pass under way holds the driver mutex, and its read of suit 0 that
// suit's frame mutex. Every locked operation waits for the pass, even with
// an index out of range, and so does another driver's; a copy of suit 0
// waits for its read; a copy of suit 1 waits for nothing.
TEST_F(Driver, ThePassLocksOutSettingsAndItsOwnSuitOnly) {
    StartWith(2);
    driver.Connect(0);
    driver.Connect(1);
    KestrionSim::BlockNextRead(0);
    ASSERT_TRUE(KestrionSim::WaitForWaitingRead(0, 5000));
    KestrionThread other;  // never started: its suit 0 is out of range
    const std::pair<const char*, std::function<void()>> locked[] = {
        {"Connect", [&] { driver.Connect(1); }},
        {"Disconnect", [&] { driver.Disconnect(1); }},
        {"SetNull", [&] { driver.SetNull(1); }},
        {"SetNorth", [&] { driver.SetNorth(1); }},
        {"EnableJumping", [&] { driver.EnableJumping(1, true); }},
        {"EnableUnevenTerrain", [&] { driver.EnableUnevenTerrain(1, true); }},
        {"EnableIgnoreFloor", [&] { driver.EnableIgnoreFloor(1, true); }},
        {"SetNull out of range", [&] { driver.SetNull(2); }},
        {"another driver's Connect", [&] { other.Connect(0); }},
    };
    std::vector<std::future<void>> waiting;
    for (const auto& op : locked) waiting.push_back(std::async(std::launch::async, op.second));
    Frame copies[2] = {};
    auto copyOfReadSuit = std::async(std::launch::async, [&] { driver.GetFrame(0, copies[0]); });
    auto copyOfOtherSuit = std::async(std::launch::async, [&] { driver.GetFrame(1, copies[1]); });
    EXPECT_EQ(copyOfOtherSuit.wait_for(5s), std::future_status::ready) << "a copy waited for another suit's read";
    EXPECT_EQ(copyOfReadSuit.wait_for(0ms), std::future_status::timeout) << "copied while the read was under way";
    for (std::size_t i = 0; i < waiting.size(); ++i) {
        EXPECT_EQ(waiting[i].wait_for(i == 0 ? 100ms : 0ms), std::future_status::timeout)
            << locked[i].first << " ran while a pass was under way";
    }
    KestrionSim::ReleaseRead(0);
    for (auto& w : waiting) EXPECT_EQ(w.wait_for(5s), std::future_status::ready);
    ASSERT_EQ(copyOfReadSuit.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(KestrionSim::FrameIsWhole(copies[0]));
    copies[0].rotations[joint::Head].x += 1.0f;
    EXPECT_FALSE(KestrionSim::FrameIsWhole(copies[0]));  // a torn copy would show
}

// Start's messages around the worker: found before it starts, started once
// it runs.
TEST_F(Driver, StartSaysStartedOnceTheWorkerRuns) {
    using Log = std::vector<std::pair<std::string, bool>>;  // text, worker started
    struct Seen {
        KestrionThread* driver;
        Log messages;
    } seen{&driver, {}};
    OrvSetDebugSink(
        [](const char* text, void* context) {
            auto* s = static_cast<Seen*>(context);
            s->messages.emplace_back(text, s->driver->threadHandle != nullptr);
        },
        &seen);
    KestrionSim::SetSuitCount(1);
    driver.Start();
    OrvSetDebugSink(nullptr, nullptr);
    EXPECT_EQ(seen.messages, (Log{{"Searching for suits", false}, {"Found: 1 suits", false},
                                  {"Started Kestrion driver", true}}));
}

TEST_F(Driver, StopFinishesTheLibraryOnlyOnceTheRecordsAreGone) {
    StartWith(3);
    driver.Connect(0);
    ASSERT_TRUE(KestrionSim::WaitForCalls("GyroRead", 1, 5000));
    // Records and count as GyroFinish finds them; -1 while it is not called.
    static int recordsAtFinish, countAtFinish;
    recordsAtFinish = countAtFinish = -1;
    KestrionSim::SetFinishHook(
        [](void* d) {
            recordsAtFinish = static_cast<int>(static_cast<KestrionThread*>(d)->suits.size());
            countAtFinish = static_cast<KestrionThread*>(d)->GetNrOfSuits();
        },
        &driver);
    driver.Stop();
    EXPECT_EQ(recordsAtFinish, 0);
    EXPECT_EQ(countAtFinish, 0);
    EXPECT_EQ(driver.threadHandle, nullptr);
}

TEST_F(Driver, DestroyingARunningDriverEndsItsWorkerWithoutLibraryCalls) {
    auto running = std::make_unique<KestrionThread>();
    KestrionSim::SetSuitCount(2);
    running->Start();
    running->Connect(1);
    ASSERT_TRUE(KestrionSim::WaitForCalls("GyroRead", 1, 5000));
    running.reset();
    NewCalls();
    std::this_thread::sleep_for(60ms);  // a worker still polling would log reads
    EXPECT_TRUE(NewCalls().empty());
    EXPECT_EQ(messages.Take(), (Texts{"Searching for suits", "Found: 2 suits", "Started Kestrion driver"}));
}
