// A suit read that never returns, again and again: every reset ends the
// stuck worker in about half a second, nothing deadlocks, and no thread is
// left behind. KX_FAULT_ROUNDS sets the number of rounds (default 50).
#include "plugin/KestrionUnique.h"
#include "platform/process_info.h"
#include "support/Counts.h"
#include "support/DebugMessages.h"
#include "support/Gate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using kxtest::Eventually;
using namespace std::chrono_literals;

class FaultSurvival : public kxtest::SuitLibraryTest {};

TEST_F(FaultSurvival, HungReadsAreSurvivedRoundAfterRound) {
    const long rounds = kxtest::EnvCount("KX_FAULT_ROUNDS", 50);
    const int threadsBefore = kxtest::BaselineThreadCount();
    KestrionUnique channel;
    std::vector<double> resetMs;
    for (long round = 0; round < rounds; ++round) {
        channel.Connect(0);
        channel.Connect(1);
        ASSERT_EQ(channel.GetNrOfSuits(), 3) << "round " << round;
        KestrionSim::HangReads(0);
        ASSERT_TRUE(KestrionSim::WaitForWaitingRead(0, 10000)) << "round " << round;

        const auto start = std::chrono::steady_clock::now();
        channel.Reset();
        resetMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        ASSERT_LT(resetMs.back(), 550.0) << "round " << round;
        ASSERT_TRUE(Eventually([&] { return kx::CountProcessThreads() <= threadsBefore; }))
            << "round " << round << ": threads before " << threadsBefore << ", now " << kx::CountProcessThreads();
    }
    // The stuck workers died holding "KestrionMutex" and a frame mutex; a
    // fresh start still works end to end.
    channel.Connect(2);
    Frame f{};
    ASSERT_TRUE(Eventually([&] {
        channel.GetData(2, f);
        return KestrionSim::FrameIsWhole(f);
    }));
    channel.Reset();
    std::sort(resetMs.begin(), resetMs.end());
    std::printf("%ld hung reads survived; reset median %.1f ms, max %.1f ms; threads %d before, %d after\n",
                rounds, resetMs[resetMs.size() / 2], resetMs.back(), threadsBefore, kx::CountProcessThreads());
}
