// Eight channels in one process, connected at once and all polling, each
// read from its own thread: every frame is whole, each suit's samples only
// move forward, and nothing deadlocks. Run under ThreadSanitizer too.
#include "plugin/KestrionUnique.h"
#include "support/SuitLibraryTest.h"
#include "support/Handoffs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;

class ManyChannels : public kxtest::SuitLibraryTest {};

TEST_F(ManyChannels, EightChannelsPollAndReadAtOnce) {
    constexpr int kChannels = 8;
    constexpr int kSuits = 4;
    KestrionSim::SetSuitCount(kSuits);
    std::vector<std::unique_ptr<KestrionUnique>> channels;
    for (int c = 0; c < kChannels; ++c) channels.push_back(std::make_unique<KestrionUnique>());

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
            // Until every suit has shown twenty new samples on this channel.
            while (fresh < kSuits * 20) {
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
        EXPECT_EQ(reader.get(), "");
    }
}
