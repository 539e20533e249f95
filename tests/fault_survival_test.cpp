// A suit read that never returns, in each way a real library might hang,
// again and again: every reset gives the stuck worker its 500 ms, then ends
// it within 600 ms, frees nothing that the read could still write to
// (AddressSanitizer would see it when the read is released afterwards),
// leaves no thread or descriptor behind, and the next start works. KX_FAULT_ROUNDS sets the rounds per way
// (default 5).
#include "plugin/KestrionUnique.h"
#include "support/ProcessInfo.h"
#include "support/TestSizes.h"
#include "support/SuitLibraryTest.h"
#include "support/Handoffs.h"
#include "support/Sanitizers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using KestrionSim::Hang;
using kxtest::Eventually;

namespace {

const char* Name(Hang how) {
    static const char* const names[] = {"Wait", "Spin", "Mutex", "Pipe"};
    return names[static_cast<int>(how)];
}

class HungRead : public kxtest::SuitLibraryTest, public testing::WithParamInterface<Hang> {};

}  // namespace

TEST_P(HungRead, ResetEndsTheReaderInTimeRoundAfterRound) {
    if (kxtest::kSignalsDeferred && (GetParam() == Hang::Spin || GetParam() == Hang::Mutex)) {
        GTEST_SKIP() << "ThreadSanitizer holds back the signal that ends a thread that never calls into it";
    }
    const long rounds = kxtest::EnvCount("KX_FAULT_ROUNDS", 5);
    const int threadsBefore = kx::BaselineThreadCount();
    KestrionUnique channel;  // holds "KestrionMutex" open throughout
    const int handlesBefore = kx::CountOpenHandles();
    std::vector<double> resetMs;
    for (long round = 0; round < rounds; ++round) {
        channel.Connect(0);
        channel.Connect(1);
        ASSERT_EQ(channel.GetNrOfSuits(), 3) << "round " << round;
        KestrionSim::HangReads(0, GetParam());
        ASSERT_TRUE(KestrionSim::WaitForWaitingRead(0, 10000)) << "round " << round;

        const auto start = std::chrono::steady_clock::now();
        channel.Reset();
        resetMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        // The worker is given its 500 ms before it is ended.
        ASSERT_GE(resetMs.back(), 495.0) << "round " << round;
        ASSERT_LT(resetMs.back(), 600.0) << "round " << round;
        // Releases the read: a reader still alive would now write into the
        // frame of a deleted record.
        KestrionSim::Reset();
        ASSERT_TRUE(Eventually([&] { return kx::CountProcessThreads() <= threadsBefore; }))
            << "round " << round << ": threads before " << threadsBefore << ", now " << kx::CountProcessThreads();
        EXPECT_LE(kx::CountOpenHandles(), handlesBefore) << "round " << round;
    }
    // The stuck workers died holding "KestrionMutex" and a frame mutex; a
    // fresh start still works end to end.
    channel.Connect(2);
    Frame f{};
    ASSERT_TRUE(kxtest::WholeFrameArrives(channel, 2, f));
    channel.Reset();
    std::sort(resetMs.begin(), resetMs.end());
    std::printf("%s: %ld hung reads survived; reset median %.1f ms, max %.1f ms; threads %d before, %d after\n",
                Name(GetParam()), rounds, resetMs[resetMs.size() / 2], resetMs.back(), threadsBefore,
                kx::CountProcessThreads());
}

INSTANTIATE_TEST_SUITE_P(EachWayOfHanging, HungRead, testing::Values(Hang::Wait, Hang::Spin, Hang::Mutex, Hang::Pipe),
                         [](const testing::TestParamInfo<Hang>& info) { return Name(info.param); });
