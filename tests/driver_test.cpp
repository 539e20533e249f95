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
#include <future>
#include <memory>
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
// Passes are never closer than the 25 ms pause (a timer tick of slack for
// Windows), and a loaded machine only stretches a few of them.
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
    std::sort(gapsMs.begin(), gapsMs.end());
    EXPECT_GE(gapsMs.front(), 24.0);
    EXPECT_LT(gapsMs[gapsMs.size() / 2], 40.0);
}

// The per-suit settings wait for a pass under way, whose reads hold the
// driver mutex; a copy of the suit's frame waits for its read, which holds
// the frame mutex.
TEST_F(Driver, SettingsAndCopiesWaitForAReadUnderWay) {
    StartWith(1);
    driver.Connect(0);
    KestrionSim::BlockNextRead(0);
    ASSERT_TRUE(KestrionSim::WaitForWaitingRead(0, 5000));
    auto setting = std::async(std::launch::async, [&] { driver.SetNull(0); });
    auto copy = std::async(std::launch::async, [&] {
        Frame f{};
        driver.GetFrame(0, f);
        return f;
    });
    EXPECT_EQ(setting.wait_for(100ms), std::future_status::timeout) << "set while a pass was under way";
    EXPECT_EQ(copy.wait_for(0ms), std::future_status::timeout) << "copied while the read was under way";
    KestrionSim::ReleaseRead(0);
    EXPECT_EQ(setting.wait_for(5s), std::future_status::ready);
    ASSERT_EQ(copy.wait_for(5s), std::future_status::ready);
    Frame f = copy.get();
    EXPECT_TRUE(KestrionSim::FrameIsWhole(f));
    f.rotations[17].x += 1.0f;
    EXPECT_FALSE(KestrionSim::FrameIsWhole(f));  // a torn copy would show
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
