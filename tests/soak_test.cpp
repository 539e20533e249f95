// Start, connect eight suits on two channels, read, reset, over and over:
// nothing leaks (the AddressSanitizer build checks at exit), and the
// process holds as many threads and open handles afterwards as before.
// KX_SOAK_CYCLES sets the number of cycles (default 30).
#include "plugin/KestrionUnique.h"
#include "support/ProcessInfo.h"
#include "support/TestSizes.h"
#include "support/SuitLibraryTest.h"
#include "support/Handoffs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

using kxtest::Eventually;

class Soak : public kxtest::SuitLibraryTest {};

TEST_F(Soak, StartConnectReadResetCyclesLeaveNothingBehind) {
    const long cycles = kxtest::EnvCount("KX_SOAK_CYCLES", 30);
    KestrionSim::SetSuitCount(8);
    const int threadsBefore = kx::BaselineThreadCount();
    const int handlesBefore = kx::CountOpenHandles();
    {
        auto a = std::make_unique<KestrionUnique>();
        auto b = std::make_unique<KestrionUnique>();
        for (long cycle = 0; cycle < cycles; ++cycle) {
            for (int suit = 0; suit < 8; ++suit) {
                a->Connect(suit);
                b->Connect(suit);
            }
            ASSERT_EQ(a->GetNrOfSuits(), 8);
            for (KestrionUnique* channel : {a.get(), b.get()}) {
                for (int suit = 0; suit < 8; ++suit) {
                    Frame f{};
                    ASSERT_TRUE(kxtest::WholeFrameArrives(*channel, suit, f)) << "cycle " << cycle << " suit " << suit;
                }
            }
            a->Reset();
            b->Reset();
            KestrionSim::ClearCalls();
            messages.Take();
            ASSERT_TRUE(Eventually([&] { return kx::CountProcessThreads() <= threadsBefore; }))
                << "cycle " << cycle;
        }
    }
    EXPECT_TRUE(Eventually([&] { return kx::CountProcessThreads() == threadsBefore; }));
    EXPECT_TRUE(Eventually([&] { return kx::CountOpenHandles() == handlesBefore; }));
    std::printf("%ld cycles; threads %d before, %d after; open handles %d before, %d after\n", cycles,
                threadsBefore, kx::CountProcessThreads(), handlesBefore, kx::CountOpenHandles());
}
