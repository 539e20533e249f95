// A suit read that never returns, in each way a real library might hang,
// again and again: every reset gives the stuck worker its 500 ms, then ends
// it, frees nothing that the read could still write to (AddressSanitizer
// would see it when the read is released afterwards), leaves no thread or
// descriptor behind, and the next start works. KX_FAULT_ROUNDS sets the
// rounds per way (default 5). Then libraries and hosts that make the reader
// hard to end, one of each.
#include "plugin/KestrionUnique.h"
#include "support/ProcessInfo.h"
#include "support/TestSizes.h"
#include "support/SuitLibraryTest.h"
#include "support/Handoffs.h"
#include "support/Sanitizers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using KestrionSim::Hang;
using kxtest::Eventually;

namespace {

// Generous: a reset is timed only to tell the 500 ms it gives the worker,
// and the two seconds more of a worker that cannot be ended, from a hang.
constexpr double kResetBoundMs = 6000;

double ResetMs(KestrionUnique& channel) {
    const auto start = std::chrono::steady_clock::now();
    channel.Reset();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

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
    for (long round = 0; round < rounds; ++round) {
        channel.Connect(0);
        channel.Connect(1);
        ASSERT_EQ(channel.GetNrOfSuits(), 3) << "round " << round;
        KestrionSim::HangReads(0, GetParam());
        ASSERT_TRUE(KestrionSim::WaitForWaitingRead(0, 10000)) << "round " << round;
        messages.Take();

        // The worker is given its 500 ms before it is ended, and it is
        // ended: its records are not kept.
        const double ms = ResetMs(channel);
        ASSERT_GE(ms, 495.0) << "round " << round;
        ASSERT_LT(ms, kResetBoundMs) << "round " << round;
        ASSERT_EQ(messages.Take(), kxtest::Texts{"Stopped Kestrion driver"}) << "round " << round;
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
}

INSTANTIATE_TEST_SUITE_P(EachWayOfHanging, HungRead, testing::Values(Hang::Wait, Hang::Spin, Hang::Mutex, Hang::Pipe),
                         [](const testing::TestParamInfo<Hang>& info) { return Name(info.param); });

namespace {

// A library, or host, that makes the stuck reader hard to end.
struct Hostile {
    const char* name;
    Hang how;
    // The thread that connects blocks every signal; the worker inherits
    // its mask.
    bool hostBlocksSignals;
    // False: the library keeps every signal from the reader's thread, so
    // only Windows can end it.
    bool endable;
    // The ended reader leaves the loader's lock held for good (a limit of
    // every forced end): the process is a child that exits without it.
    bool leavesLoaderLocked;
};

void PrintTo(const Hostile& h, std::ostream* out) { *out << h.name; }

const Hostile kHostile[] = {
    {"HostBlocksEverySignal", Hang::Pipe, true, true, false},
    {"WaitWhoseLockFinishTakes", Hang::LockedWait, false, true, false},
    {"InsideALoaderWalk", Hang::LoaderWalk, false, true, true},
    {"BlocksSignalsAndWritesLate", Hang::SignalsBlocked, false, kx::kSystemWin32, false},
};

class HostileRead : public kxtest::SuitLibraryTest, public testing::WithParamInterface<Hostile> {
protected:
    // Where Survive is, for a child process that hangs.
    std::atomic<const char*> stage{"setting up the hang"};

    // What went wrong, or nothing.
    std::string Survive() {
        const Hostile& h = GetParam();
        std::ostringstream wrong;
        const int threadsBefore = kx::BaselineThreadCount();
        KestrionUnique channel;
        {
            std::unique_ptr<kx::AllSignalsBlocked> blocked;
            if (h.hostBlocksSignals) blocked = std::make_unique<kx::AllSignalsBlocked>();
            channel.Connect(0);
        }
        KestrionSim::HangReads(0, h.how);
        if (!KestrionSim::WaitForWaitingRead(0, 10000)) return "the read never began to wait";
        messages.Take();
        stage = "the reset";
        const double ms = ResetMs(channel);
        // Given its 500 ms, then ended; or given two seconds more, then its
        // records kept.
        if (ms < (h.endable ? 495 : 2495) || ms > kResetBoundMs) wrong << "reset in " << ms << " ms; ";
        const kxtest::Texts said = messages.Take();
        const kxtest::Texts expected =
            h.endable ? kxtest::Texts{"Stopped Kestrion driver"}
                      : kxtest::Texts{"Kestrion: Unable to end the reader thread; its suit records are kept",
                                      "Stopped Kestrion driver"};
        if (said != expected) wrong << "said " << testing::PrintToString(said) << "; ";
        if (KestrionSim::ReaderThreadExits() != 0) wrong << "the ended reader ran its library's thread exit code; ";
        // Releases the read: a reader still alive completes it now, into
        // its record.
        KestrionSim::Reset();
        if (!Eventually([&] { return kx::CountProcessThreads() <= threadsBefore; })) {
            wrong << "threads " << threadsBefore << " before, " << kx::CountProcessThreads() << " after; ";
        }
        // The mutexes it died holding pass to the next start.
        stage = "the next start";
        channel.Connect(1);
        Frame f{};
        if (!kxtest::WholeFrameArrives(channel, 1, f)) wrong << "no frame after the reset; ";
        channel.Reset();
        return wrong.str();
    }
};

}  // namespace

TEST_P(HostileRead, ResetReturnsAndFreesNothingTheReaderMayWrite) {
    if (!GetParam().leavesLoaderLocked) {
        EXPECT_EQ(Survive(), "");
        return;
    }
    if (kx::kSystemWin32) GTEST_SKIP() << "Windows has no loader walk to hang in";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // A hung reset is a failure too, not a hung test.
            std::thread([this] {
                std::this_thread::sleep_for(std::chrono::seconds(30));
                std::fprintf(stderr, "hung in %s\n", stage.load());
                std::_Exit(2);
            }).detach();
            const std::string wrong = Survive();
            std::fputs(wrong.c_str(), stderr);
            std::_Exit(wrong.empty() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(OneOfEach, HostileRead, testing::ValuesIn(kHostile),
                         [](const testing::TestParamInfo<Hostile>& info) { return info.param.name; });
