// Random sequences of channel operations and suit library faults, run
// against the real channel and the reference model side by side. After
// every step the library calls, the debug messages, the suit count and
// every frame must agree. A failure names its seed and lists the sequence.
//
// KX_MODEL_SEQUENCES sets how many sequences run (default 60); KX_MODEL_SEED
// replays from one seed.
#include "plugin/KestrionUnique.h"
#include "support/ChannelModel.h"
#include "support/SuitLibraryTest.h"
#include "support/TestSizes.h"
#include "threading/Orv_Mutex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using kxtest::ChannelModel;
using kxtest::FrameView;
using kxtest::Op;
using kxtest::Texts;
using ::testing::PrintToString;

namespace {

// Builds random sequences. Indices favour the edges: -1, the count,
// INT_MIN and INT_MAX beside the valid ones.
class Generator {
public:
    explicit Generator(std::uint32_t seed) : random_(seed) {}

    std::vector<Op> Sequence(int length) {
        std::vector<Op> ops;
        int count = 3;  // the suit count a valid index is drawn against
        for (int i = 0; i < length; ++i) {
            Op op = Next(count);
            if (op.kind == Op::SetSuitCount) count = op.value > 0 ? op.value : 3;
            ops.push_back(op);
        }
        return ops;
    }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    int Index(int count) {
        switch (Pick(10)) {
            case 0: return -1;
            case 1: return count;
            case 2: return Pick(2) ? INT_MIN : INT_MAX;
            default: return Pick(count);
        }
    }

    Op Next(int count) {
        // Out of 100, in the order of Op::Kind; Idle only in scenarios.
        static const int kWeights[] = {22, 8, 4, 4, 3, 3, 3, 13, 8, 16, 0, 5, 5, 6};
        static const int kCounts[] = {-2, 0, 1, 2, 3, 5};
        int roll = Pick(100), k = 0;
        while (roll >= kWeights[k]) roll -= kWeights[k++];
        Op op{static_cast<Op::Kind>(k)};
        op.index = op.kind == Op::SetOpenFails ? Pick(count) : Index(count);
        op.flag = Pick(2) == 1;
        if (op.kind == Op::SetInitResult) op.value = Pick(3) == 0 ? 0 : 1;
        if (op.kind == Op::SetSuitCount) op.value = kCounts[Pick(6)];
        return op;
    }

    std::mt19937 random_;
};

Frame Sentinel() {
    Frame f;
    std::memset(&f, 0xA7, sizeof f);
    return f;
}

FrameView Observe(const Frame& f) {
    FrameView view;
    const Frame sentinel = Sentinel();
    if (std::memcmp(&f, &sentinel, sizeof f) == 0) return view;
    Frame zero;
    std::memset(&zero, 0, sizeof zero);
    if (std::memcmp(&f, &zero, sizeof f) == 0) {
        view.kind = FrameView::Zero;
        return view;
    }
    view.kind = FrameView::Sample;
    view.suit = KestrionSim::FrameIsWhole(f) ? static_cast<int>(f.tailWords[1]) : -1;
    view.sample = f.leadWord;
    return view;
}

// The number of complete passes in `calls` (reads only), or -1 when the
// reads do not add up to whole passes over `open` suits.
int CountPasses(const Texts& calls, int open) {
    int reads = 0;
    for (const std::string& c : calls) reads += c.rfind("GyroRead", 0) == 0 ? 1 : 0;
    if (open == 0) return 0;
    return reads % open == 0 ? reads / open : -1;
}

// Runs `ops` on a fresh channel and library; empty on agreement, otherwise
// what differed first.
std::string RunSequence(const std::vector<Op>& ops) {
    KestrionSim::Reset();
    kxtest::DebugMessages messages;
    ChannelModel model;
    auto channel = std::make_unique<KestrionUnique>();
    std::string failure;
    {
        // While this thread holds "KestrionMutex", no pass runs unless a step
        // lets one; the channel's own operations on this thread re-enter it.
        Orv_Mutex passes;
        passes.Create("KestrionMutex");
        passes.WaitForSingleObject();
        for (std::size_t step = 0; step < ops.size() && failure.empty(); ++step) {
            const Op& op = ops[step];
            const int openBefore = model.OpenSuits();
            switch (op.kind) {
                case Op::Connect: channel->Connect(op.index); break;
                case Op::Disconnect: channel->Disconnect(op.index); break;
                case Op::SetNull: channel->SetNull(op.index); break;
                case Op::SetNorth: channel->SetNorth(op.index); break;
                case Op::EnableUnevenTerrain: channel->EnableUnevenTerrain(op.index, op.flag); break;
                case Op::EnableIgnoreFloor: channel->EnableIgnoreFloor(op.index, op.flag); break;
                case Op::EnabelJumping: channel->EnabelJumping(op.index, op.flag); break;
                case Op::GetData: break;  // read below, with every other index
                case Op::Reset:
                    passes.Release();  // a worker waiting for the lock finishes its pass
                    channel->Reset();
                    passes.WaitForSingleObject();
                    break;
                case Op::Pass:
                    if (model.Running() && openBefore > 0) {
                        const std::size_t reads = KestrionSim::CountCalls("GyroRead");
                        passes.Release();
                        KestrionSim::WaitForCalls("GyroRead", reads + openBefore, 10000);
                        passes.WaitForSingleObject();
                    }
                    break;
                case Op::Idle: std::this_thread::sleep_for(std::chrono::milliseconds(60)); break;
                case Op::SetInitResult: KestrionSim::SetInitResult(op.value); break;
                case Op::SetSuitCount: KestrionSim::SetSuitCount(op.value); break;
                case Op::SetOpenFails: KestrionSim::SetOpenFails(op.index, op.flag); break;
            }
            const Texts calls = KestrionSim::CallTexts();
            KestrionSim::ClearCalls();
            const bool polls = op.kind == Op::Pass || op.kind == Op::Reset;
            model.Apply(op, polls ? CountPasses(calls, openBefore) : 0);

            std::ostringstream diff;
            auto compare = [&](const std::string& what, const auto& got, const auto& want) {
                if (got != want) diff << what << " " << PrintToString(got) << ", model " << PrintToString(want) << "; ";
            };
            compare("calls", calls, model.TakeCalls());
            compare("messages", messages.Take(), model.TakeMessages());
            compare("suit count", channel->GetNrOfSuits(), model.NrOfSuits());
            const int count = model.NrOfSuits();
            for (int suit : {-1, 0, 1, 2, 3, 4, count, INT_MIN, INT_MAX, op.index}) {
                Frame f = Sentinel();
                channel->GetData(suit, f);
                compare("frame " + std::to_string(suit), Observe(f).Text(), model.Frame(suit).Text());
            }
            if (!diff.str().empty()) failure = "step " + std::to_string(step + 1) + " " + op.Text() + ": " + diff.str();
        }
        passes.Release();
    }
    channel.reset();
    KestrionSim::Reset();
    return failure;
}

}  // namespace

// Key cases as fixed steps, so that they never depend on a seed.
struct Scenario {
    const char* name;
    std::vector<Op> ops;
};

const Scenario kScenarios[] = {
    {"the first connect starts the driver: three suits enumerated in order, then the suit opens",
     {{Op::Connect, 2}, {Op::Connect, 2}, {Op::Pass}, {Op::GetData, 2}}},
    {"a pass waits for \"KestrionMutex\", one lock for every holder of the name",
     {{Op::Connect, 0}, {Op::Idle}, {Op::Pass}, {Op::Idle}, {Op::GetData, 0}}},
    {"a failed start is reported and retried from the beginning; any non-zero result means started",
     {{Op::SetInitResult, 0, false, 0}, {Op::Connect, 0}, {Op::SetInitResult, 0, false, 7}, {Op::Connect, 0},
      {Op::Pass}}},
    {"no suits: the driver stays idle without finishing, and every connect searches again",
     {{Op::SetSuitCount, 0, false, 0}, {Op::Connect, 0}, {Op::Connect, 0}, {Op::GetData, 0}}},
    {"a negative count runs a driver with no suit in range",
     {{Op::SetSuitCount, 0, false, -2}, {Op::Connect, -2}, {Op::Connect, -1}, {Op::Connect, 0}, {Op::SetNull, 1},
      {Op::GetData, 0}, {Op::Reset}}},
    {"indices out of range are ignored, before and after the start",
     {{Op::Disconnect, 0}, {Op::SetNull, 0}, {Op::EnabelJumping, 0, true}, {Op::GetData, 0},
      {Op::Connect, -1}, {Op::Connect, 3}, {Op::SetNorth, INT_MIN}, {Op::EnableIgnoreFloor, INT_MAX},
      {Op::Disconnect, 3}, {Op::GetData, 3}}},
    {"a new suit shows zeros until the next pass; a reopened one its old sample",
     {{Op::Connect, 0}, {Op::GetData, 0}, {Op::Pass}, {Op::GetData, 0}, {Op::Disconnect, 0}, {Op::Pass},
      {Op::Connect, 0}, {Op::GetData, 0}, {Op::Pass}, {Op::GetData, 0}}},
    {"open twice opens once; settings carry their flag, and the handle even once closed",
     {{Op::Connect, 0}, {Op::Connect, 0}, {Op::SetNull, 0}, {Op::SetNorth, 0},
      {Op::EnabelJumping, 0, true}, {Op::EnableUnevenTerrain, 0, false}, {Op::EnableIgnoreFloor, 0, true},
      {Op::Disconnect, 0}, {Op::Disconnect, 0}, {Op::SetNull, 0}, {Op::EnableUnevenTerrain, 1, true}}},
    {"a failed open leaves the suit closed and unread, and the next connect opens it",
     {{Op::SetOpenFails, 1, true}, {Op::Connect, 1}, {Op::Connect, 0}, {Op::Pass}, {Op::GetData, 1}, {Op::Connect, 1},
      {Op::SetOpenFails, 1, false}, {Op::Connect, 1}, {Op::Pass}, {Op::GetData, 1}}},
    {"reset stops everything, open suits unclosed, even when idle; the next connect starts afresh",
     {{Op::Reset}, {Op::Connect, 0}, {Op::Connect, 2}, {Op::Pass}, {Op::Reset}, {Op::Reset}, {Op::GetData, 0},
      {Op::SetSuitCount, 0, false, 2}, {Op::Connect, 1}, {Op::Pass}, {Op::GetData, 1}}},
};

TEST(ChannelModel, NamedScenariosAgreeWithTheModel) {
    for (const Scenario& scenario : kScenarios) {
        EXPECT_EQ(RunSequence(scenario.ops), "") << scenario.name;
    }
}

TEST(ChannelModel, RandomSequencesAgreeWithTheModel) {
    const long sequences = kxtest::EnvCount("KX_MODEL_SEQUENCES", 60);
    const char* const seedText = std::getenv("KX_MODEL_SEED");
    const bool fixedSeed = seedText != nullptr && *seedText != '\0';
    const std::uint32_t firstSeed = fixedSeed ? std::strtoul(seedText, nullptr, 10) : std::random_device()();
    long steps = 0;
    for (long n = 0; n < (fixedSeed ? 1 : sequences); ++n) {
        const std::uint32_t seed = firstSeed + static_cast<std::uint32_t>(n);
        Generator generator(seed);
        const std::vector<Op> ops = generator.Sequence(8 + static_cast<int>(seed % 25));
        steps += static_cast<long>(ops.size());
        const std::string failure = RunSequence(ops);
        if (!failure.empty()) {
            std::string listing;
            for (const Op& op : ops) listing += "\n  " + op.Text();
            FAIL() << "seed " << seed << " (replay with KX_MODEL_SEED=" << seed << "): " << failure << listing;
        }
    }
    std::printf("%ld sequences, %ld steps, first seed %u: channel and model agree\n",
                fixedSeed ? 1L : sequences, steps, firstSeed);
}
