// The suit driver against the scripted suit library: the calls it makes,
// the messages it writes, its locks and its stop.
#include "driver/KestrionThread.h"
#include "driver/SuitRecord.h"
#include "support/ProcessInfo.h"
#include "support/DebugMessages.h"
#include "support/Counts.h"
#include "support/Gate.h"
#include "threading/Orv_Mutex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using kxtest::Eventually;
using kxtest::Texts;
using namespace std::chrono_literals;

namespace {

std::string Handle(int suit) { return std::to_string(KestrionSim::HandleOf(suit)); }

Frame Filled(unsigned char byte) {
    Frame f;
    std::memset(&f, byte, sizeof f);
    return f;
}

bool SameBytes(const Frame& a, const Frame& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool AllZero(const Frame& f) { return SameBytes(f, Filled(0)); }

// Holds "KestrionMutex" on the test's thread, so no polling pass can run
// while the test looks; the driver's own operations on this thread re-enter it.
class HoldDriverMutex {
public:
    HoldDriverMutex() {
        mutex_.Create("KestrionMutex");
        mutex_.WaitForSingleObject();
    }
    ~HoldDriverMutex() { mutex_.Release(); }

private:
    Orv_Mutex mutex_;
};

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

TEST_F(Driver, StartsWithThreeSuitsInOrder) {
    driver.Start();
    EXPECT_EQ(NewCalls(), (Texts{"GyroInit()", "GyroFindSuits()", "GyroEnumerateSuitInfo(0)",
                                 "GyroEnumerateSuitInfo(1)", "GyroEnumerateSuitInfo(2)"}));
    EXPECT_EQ(messages.Take(), (Texts{"Searching for suits", "Found: 3 suits", "Started Kestrion driver"}));
    EXPECT_TRUE(driver.Loop());
    EXPECT_EQ(driver.GetNrOfSuits(), 3);
    ASSERT_EQ(driver.suits.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(driver.suits[k]->index, k);
        EXPECT_FALSE(driver.suits[k]->open);
        EXPECT_EQ(driver.suits[k]->suitHandle, 0u);
    }
    driver.Start();  // running: nothing happens
    EXPECT_TRUE(NewCalls().empty());
    EXPECT_TRUE(messages.Take().empty());
}

TEST_F(Driver, FailedInitialisationIsReportedAndRetriedAfresh) {
    KestrionSim::SetInitResult(0);
    driver.Start();
    EXPECT_EQ(NewCalls(), (Texts{"GyroInit()"}));
    EXPECT_EQ(messages.Take(), (Texts{"Kestrion: Unable to initialize"}));
    EXPECT_FALSE(driver.Loop());
    EXPECT_EQ(driver.GetNrOfSuits(), 0);

    KestrionSim::SetInitResult(7);  // any non-zero value means started
    driver.Start();
    EXPECT_EQ(NewCalls().front(), "GyroInit()");  // again, with no GyroFinish between
    EXPECT_TRUE(driver.Loop());
    EXPECT_EQ(driver.GetNrOfSuits(), 3);
}

TEST_F(Driver, NoSuitsLeavesItIdleWithoutFinishing) {
    KestrionSim::SetSuitCount(0);
    driver.Start();
    EXPECT_EQ(NewCalls(), (Texts{"GyroInit()", "GyroFindSuits()"}));
    EXPECT_EQ(messages.Take(), (Texts{"Searching for suits", "Kestrion: No suits found"}));
    EXPECT_FALSE(driver.Loop());
    EXPECT_TRUE(driver.suits.empty());
}

TEST_F(Driver, NegativeCountRunsWithNoSuitInRange) {
    KestrionSim::SetSuitCount(-2);
    driver.Start();
    EXPECT_EQ(NewCalls(), (Texts{"GyroInit()", "GyroFindSuits()"}));
    EXPECT_EQ(messages.Take(), (Texts{"Searching for suits", "Found: -2 suits", "Started Kestrion driver"}));
    EXPECT_TRUE(driver.Loop());
    EXPECT_EQ(driver.GetNrOfSuits(), -2);
    EXPECT_TRUE(driver.suits.empty());
    for (int suit : {-2, -1, 0, 1}) {
        driver.Connect(suit);
        driver.SetNull(suit);
        Frame f = Filled(0x5A);
        driver.GetFrame(suit, f);
        EXPECT_TRUE(SameBytes(f, Filled(0x5A)));
    }
    EXPECT_TRUE(NewCalls().empty());
    driver.Stop();
    EXPECT_EQ(driver.GetNrOfSuits(), 0);
}

TEST_F(Driver, PassesReadOnlyOpenSuits) {
    StartWith(3);
    driver.Connect(1);
    EXPECT_EQ(NewCalls(), (Texts{"GyroOpen(1, 0, 0)"}));
    EXPECT_TRUE(driver.suits[1]->open);
    EXPECT_EQ(driver.suits[1]->suitHandle, KestrionSim::HandleOf(1));
    ASSERT_TRUE(KestrionSim::WaitForCalls("GyroRead", 3, 5000));
    driver.Stop();
    for (const std::string& call : NewCalls()) {
        if (call.rfind("GyroRead", 0) == 0) {
            EXPECT_EQ(call, "GyroRead(" + Handle(1) + ")");
        }
    }
}

TEST_F(Driver, APassWithNoSuitOpenCallsNothing) {
    StartWith(3);
    driver.Connect(0);
    ASSERT_TRUE(KestrionSim::WaitForCalls("GyroRead", 1, 5000));
    driver.Disconnect(0);
    NewCalls();
    // Two more passes for sure: the worker waits for the mutex twice.
    {
        HoldDriverMutex hold;
    }
    std::this_thread::sleep_for(80ms);
    EXPECT_TRUE(NewCalls().empty());
}

TEST_F(Driver, NewSuitHasZerosUntilTheNextPassAndAReopenedOneItsOldSample) {
    StartWith(2);
    Frame f = Filled(0x5A);
    {
        HoldDriverMutex hold;  // no pass can run
        driver.Connect(0);
        driver.GetFrame(0, f);
        EXPECT_TRUE(AllZero(f));
    }
    ASSERT_TRUE(Eventually([&] {
        driver.GetFrame(0, f);
        return !AllZero(f);
    }));
    EXPECT_TRUE(KestrionSim::FrameIsWhole(f));

    Frame last;
    {
        HoldDriverMutex hold;
        driver.Disconnect(0);
        driver.GetFrame(0, last);
        driver.Connect(0);
        driver.GetFrame(0, f);
        EXPECT_TRUE(SameBytes(f, last));  // the old sample until the next pass
        EXPECT_TRUE(driver.suits[0]->open);
    }
    ASSERT_TRUE(Eventually([&] {
        driver.GetFrame(0, f);
        return f.leadWord > last.leadWord;
    }));
}

TEST_F(Driver, OpenTwiceOpensOnceAndSettingsReachTheSuitWithTheirFlag) {
    StartWith(2);
    {
        HoldDriverMutex hold;  // keep reads out of the log
        driver.Connect(0);
        driver.Connect(0);
        driver.SetNull(0);
        driver.SetNorth(0);
        driver.EnableJumping(0, true);
        driver.EnableUnevenTerrain(0, false);
        driver.EnableIgnoreFloor(0, true);
        driver.Disconnect(0);
        driver.Disconnect(0);
        driver.SetNull(0);  // closed: still passed on, with the closed handle
    }
    const std::string h = Handle(0);
    EXPECT_EQ(NewCalls(), (Texts{"GyroOpen(0, 0, 0)", "GyroSetNull(" + h + ")", "GyroSetNorth(" + h + ")",
                                 "GyroEnableJumping(" + h + ", 1)", "GyroEnableUnevenTerrain(" + h + ", 0)",
                                 "GyroEnableIgnoreFloor(" + h + ", 1)", "GyroClose(" + h + ")",
                                 "GyroSetNull(" + h + ")"}));
    EXPECT_EQ(driver.suits[0]->suitHandle, KestrionSim::HandleOf(0));
}

TEST_F(Driver, IndicesOutOfRangeMakeNoCallAndLeaveTheFrameUntouched) {
    for (bool started : {false, true}) {
        if (started) StartWith(3);
        for (int suit : {-1, started ? 3 : 0, INT_MIN, INT_MAX}) {
            driver.Connect(suit);
            driver.Disconnect(suit);
            driver.SetNull(suit);
            driver.SetNorth(suit);
            driver.EnableJumping(suit, true);
            driver.EnableUnevenTerrain(suit, true);
            driver.EnableIgnoreFloor(suit, true);
            Frame f = Filled(0xC3);
            driver.GetFrame(suit, f);
            EXPECT_TRUE(SameBytes(f, Filled(0xC3))) << "suit " << suit;
        }
        EXPECT_TRUE(NewCalls().empty());
        EXPECT_TRUE(messages.Take().empty());
    }
    HoldDriverMutex hold;
    driver.Connect(2);  // the last index is served
    EXPECT_EQ(NewCalls(), (Texts{"GyroOpen(2, 0, 0)"}));
}

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

TEST_F(Driver, GetFrameDuringAReadReturnsAWholeSampleNeverAMix) {
    StartWith(1);
    driver.Connect(0);
    Frame before;
    ASSERT_TRUE(Eventually([&] {
        driver.GetFrame(0, before);
        return KestrionSim::FrameIsWhole(before);
    }));
    KestrionSim::BlockNextRead(0);
    ASSERT_TRUE(KestrionSim::WaitForWaitingRead(0, 5000));  // half of the next sample written
    auto copy = std::async(std::launch::async, [&] {
        Frame f;
        driver.GetFrame(0, f);
        return f;
    });
    EXPECT_EQ(copy.wait_for(100ms), std::future_status::timeout) << "copied while the read was under way";
    KestrionSim::ReleaseRead(0);
    const Frame after = copy.get();
    EXPECT_TRUE(KestrionSim::FrameIsWhole(after));
    EXPECT_GT(after.leadWord, before.leadWord);
}

namespace {

struct FinishObservation {
    KestrionThread* driver;
    bool called = false;
    std::size_t recordsAtFinish = 99;
    int countAtFinish = 99;
};

void ObserveFinish(void* context) {
    auto* o = static_cast<FinishObservation*>(context);
    o->called = true;
    o->recordsAtFinish = o->driver->suits.size();
    o->countAtFinish = o->driver->GetNrOfSuits();
}

}  // namespace

TEST_F(Driver, StopWithOpenSuitsClosesNoneAndFinishesAfterTheRecordsAreGone) {
    StartWith(3);
    driver.Connect(0);
    driver.Connect(2);
    ASSERT_TRUE(KestrionSim::WaitForCalls("GyroRead", 2, 5000));
    FinishObservation seen{&driver};
    KestrionSim::SetFinishHook(ObserveFinish, &seen);
    NewCalls();
    driver.Stop();
    Texts calls = NewCalls();
    while (!calls.empty() && calls.front().rfind("GyroRead", 0) == 0) calls.erase(calls.begin());
    EXPECT_EQ(calls, (Texts{"GyroFinish()"}));
    EXPECT_TRUE(seen.called);
    EXPECT_EQ(seen.recordsAtFinish, 0u);
    EXPECT_EQ(seen.countAtFinish, 0);
    EXPECT_EQ(messages.Take(), (Texts{"Stopped Kestrion driver"}));
    EXPECT_FALSE(driver.Loop());
    EXPECT_EQ(driver.threadHandle, nullptr);

    // Started again: fresh records, closed, with zero frames.
    driver.Start();
    ASSERT_EQ(driver.GetNrOfSuits(), 3);
    Frame f = Filled(1);
    driver.GetFrame(0, f);
    EXPECT_TRUE(AllZero(f));
    EXPECT_FALSE(driver.suits[0]->open);
}

TEST_F(Driver, StopOnANeverStartedDriverStillFinishesTheLibrary) {
    driver.Stop();
    driver.Stop();
    EXPECT_EQ(NewCalls(), (Texts{"GyroFinish()", "GyroFinish()"}));
    EXPECT_EQ(messages.Take(), (Texts{"Stopped Kestrion driver", "Stopped Kestrion driver"}));
}

TEST_F(Driver, TwoDriversBlockEachOtherOnTheNamedMutex) {
    StartWith(2);
    KestrionThread other;
    other.Start();
    driver.Connect(0);
    KestrionSim::BlockNextRead(0);
    ASSERT_TRUE(KestrionSim::WaitForWaitingRead(0, 5000));  // the first driver's pass holds the mutex
    auto connect = std::async(std::launch::async, [&] { other.Connect(1); });
    EXPECT_EQ(connect.wait_for(100ms), std::future_status::timeout) << "the second driver did not wait";
    KestrionSim::ReleaseRead(0);
    connect.get();
    EXPECT_TRUE(other.suits[1]->open);
    other.Stop();
}

TEST_F(Driver, StopWhileAReadNeverReturnsTakesAboutHalfASecondAndFreesTheMutex) {
    const int threadsBefore = kxtest::BaselineThreadCount();
    StartWith(2);
    driver.Connect(0);
    KestrionSim::HangReads(0);
    ASSERT_TRUE(KestrionSim::WaitForWaitingRead(0, 5000));
    const auto start = std::chrono::steady_clock::now();
    driver.Stop();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 495ms);
    EXPECT_LT(took, 1500ms);
    EXPECT_EQ(driver.GetNrOfSuits(), 0);
    EXPECT_TRUE(Eventually([&] { return kx::CountProcessThreads() <= threadsBefore; }));

    // The worker died holding "KestrionMutex": the next operation of any
    // driver still gets it.
    KestrionThread other;
    other.Start();
    auto connect = std::async(std::launch::async, [&] { other.Connect(1); });
    EXPECT_EQ(connect.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(other.suits[1]->open);
    other.Stop();
    driver.Start();
    driver.Connect(1);
    EXPECT_TRUE(driver.suits[1]->open);
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

TEST_F(Driver, CopiesAreIdleAndNeverReleaseWhatTheSourceUses) {
    StartWith(2);
    driver.Connect(0);
    {
        KestrionThread copy(driver);
        EXPECT_FALSE(copy.Loop());
        EXPECT_EQ(copy.GetNrOfSuits(), 0);
        EXPECT_TRUE(copy.suits.empty());
        EXPECT_NE(copy.driverMutex.handle, nullptr);
        KestrionThread assigned;
        assigned = driver;
        EXPECT_FALSE(assigned.Loop());
        EXPECT_TRUE(assigned.suits.empty());
    }
    // The source still polls its own records.
    const std::size_t reads = KestrionSim::CountCalls("GyroRead");
    ASSERT_TRUE(KestrionSim::WaitForCalls("GyroRead", reads + 2, 5000));
    Frame f;
    driver.GetFrame(0, f);
    EXPECT_TRUE(KestrionSim::FrameIsWhole(f));
}
