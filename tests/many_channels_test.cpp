// Eight channels in one process, each connected, read from its own thread
// and reset, cycle after cycle: every frame is whole, each suit's samples
// only move forward, nothing deadlocks, and the process holds as many
// threads and open handles afterwards as before (the AddressSanitizer build
// checks for leaks at exit). Run under ThreadSanitizer too. KX_SOAK_CYCLES
// sets the number of cycles (default 10).
#include "plugin/KestrionUnique.h"
#include "support/Handoffs.h"
#include "support/ProcessInfo.h"
#include "support/SuitLibraryTest.h"
#include "support/TestSizes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <vector>

using kxtest::Eventually;
using namespace std::chrono_literals;

class ManyChannels : public kxtest::SuitLibraryTest {};

TEST_F(ManyChannels, EightChannelsConnectReadAndResetAtOnceCycleAfterCycle) {
    constexpr int kChannels = 8, kSuits = 4, kFresh = 3;
    const long cycles = kxtest::EnvCount("KX_SOAK_CYCLES", 10);
    KestrionSim::SetSuitCount(kSuits);
    const int threadsBefore = kx::BaselineThreadCount();
    const int handlesBefore = kx::CountOpenHandles();
    {
        std::vector<std::unique_ptr<KestrionUnique>> channels;
        for (int c = 0; c < kChannels; ++c) channels.push_back(std::make_unique<KestrionUnique>());
        for (long cycle = 0; cycle < cycles; ++cycle) {
            kxtest::Gate go;
            std::vector<std::future<std::string>> readers;
            for (int c = 0; c < kChannels; ++c) {
                readers.push_back(std::async(std::launch::async, [&, c]() -> std::string {
                    KestrionUnique& channel = *channels[c];
                    if (!go.Wait()) return "never started";
                    for (int suit = 0; suit < kSuits; ++suit) channel.Connect(suit);
                    std::uint32_t last[kSuits] = {};
                    int fresh = 0;
                    const auto deadline = std::chrono::steady_clock::now() + 20s;
                    // Until every suit has shown new samples on this channel.
                    while (fresh < kSuits * kFresh) {
                        if (std::chrono::steady_clock::now() > deadline) return "channel " + std::to_string(c) + " starved";
                        for (int suit = 0; suit < kSuits; ++suit) {
                            Frame f{};
                            channel.GetData(suit, f);
                            if (f.leadWord == 0) continue;
                            if (!KestrionSim::FrameIsWhole(f)) return "torn frame on channel " + std::to_string(c);
                            if (f.tailWords[1] != static_cast<std::uint32_t>(suit)) return "frame of another suit";
                            if (f.leadWord < last[suit]) return "sample went backwards";
                            if (f.leadWord > last[suit]) ++fresh;
                            last[suit] = f.leadWord;
                        }
                        std::this_thread::sleep_for(1ms);
                    }
                    channel.Reset();
                    return "";
                }));
            }
            go.Open();
            for (auto& reader : readers) {
                ASSERT_EQ(reader.wait_for(60s), std::future_status::ready) << "deadlock: a reader never finished";
                ASSERT_EQ(reader.get(), "") << "cycle " << cycle;
            }
            KestrionSim::ClearCalls();
            messages.Take();
            ASSERT_TRUE(Eventually([&] { return kx::CountProcessThreads() <= threadsBefore; })) << "cycle " << cycle;
        }
    }
    EXPECT_TRUE(Eventually([&] { return kx::CountProcessThreads() == threadsBefore; }))
        << "threads " << threadsBefore << " before, " << kx::CountProcessThreads() << " after";
    EXPECT_TRUE(Eventually([&] { return kx::CountOpenHandles() == handlesBefore; }))
        << "open handles " << handlesBefore << " before, " << kx::CountOpenHandles() << " after";
}
