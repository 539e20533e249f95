// The plug-in's host-facing side: the channel type record, the channel and
// its device operations, and copies of channels.
#include "host/ChannelType.h"
#include "host/OrvFileLoader.h"
#include "host/OrvFileSaver.h"
#include "host/Orv_List.h"
#include "plugin/KestrionUnique.h"
#include "plugin/PluginEntry.h"
#include "support/DebugMessages.h"
#include "support/Gate.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>

using kxtest::Eventually;
using kxtest::Texts;

namespace {

const unsigned char kGuidBytes[16] = {0x10, 0x9F, 0xC2, 0x17, 0x0A, 0xF5, 0x53, 0x4E,
                                      0xB2, 0x93, 0xEC, 0x44, 0x27, 0xBF, 0xE7, 0x16};

std::int32_t Int32At(const ChannelType* t, std::size_t offset) {
    std::int32_t v;
    std::memcpy(&v, reinterpret_cast<const unsigned char*>(t) + offset, sizeof v);
    return v;
}

Frame Filled(unsigned char byte) {
    Frame f;
    std::memset(&f, byte, sizeof f);
    return f;
}

bool SameBytes(const Frame& a, const Frame& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class Channel : public kxtest::SuitLibraryTest {
protected:
    KestrionUnique channel;
};

}  // namespace

TEST(ChannelTypeRecord, IsFilledAtItsFixedOffsetsAndNothingElse) {
    const ChannelType fresh;
    const auto* constructed = reinterpret_cast<const unsigned char*>(&fresh);
    ChannelType* first = GetType();
    ChannelType* second = GetType();
    ASSERT_EQ(first, second);
    for (int call = 0; call < 2; ++call) {
        ChannelType* t = GetType();
        const auto* bytes = reinterpret_cast<const unsigned char*>(t);
        EXPECT_EQ(std::memcmp(bytes, "KestrionUnique", 14), 0);
        for (int i = 14; i < 80; ++i) EXPECT_EQ(bytes[i], 0) << "name byte " << i;
        EXPECT_EQ(std::memcmp(bytes + 80, kGuidBytes, 16), 0);
        EXPECT_EQ(std::memcmp(bytes + 96, kGuidBytes, 16), 0);
        EXPECT_EQ(std::memcmp(bytes + 112, constructed + 112, 8), 0) << "the host's bytes were written";
        EXPECT_EQ(Int32At(t, 120), 1);
        EXPECT_EQ(Int32At(t, 124), 1);
        EXPECT_EQ(Int32At(t, 128), 0);
        EXPECT_EQ(std::memcmp(bytes + 132, constructed + 132, sizeof(ChannelType) - 132), 0);
    }
}

TEST_F(Channel, InitDLLMakesIndependentIdleChannelsWithoutTouchingTheLibrary) {
    std::unique_ptr<Orv_Channel> a(InitDLL()), b(InitDLL());
    ASSERT_NE(a, nullptr);
    EXPECT_NE(a.get(), b.get());
    auto* ka = static_cast<KestrionUnique*>(a.get());
    auto* kb = static_cast<KestrionUnique*>(b.get());
    EXPECT_NE(&ka->driver, &kb->driver);
    EXPECT_EQ(ka->GetChannelName(), "KestrionUnique");
    EXPECT_EQ(ka->GetNameChanges(), 1);
    EXPECT_FALSE(ka->driver.Loop());
    EXPECT_EQ(ka->driver.threadHandle, nullptr);
    EXPECT_EQ(ka->GetNrOfSuits(), 0);
    EXPECT_TRUE(NewCalls().empty());
    EXPECT_TRUE(messages.Take().empty());
}

TEST_F(Channel, DeclaresThreeDependenciesEveryTime) {
    Orv_List list;
    channel.DoDependencyInit(&list);
    channel.DoDependencyInit(&list);
    ASSERT_EQ(list.Count(), 6);
    const char* expected[] = {"Kestrion.dll", "Quorbit.dll", "isense.dll"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(list.At(i), expected[i % 3]);
}

TEST_F(Channel, LoadAndSavePassTheBaseResultThrough) {
    OrvFileSaver saver;
    EXPECT_TRUE(channel.SaveChannel(saver));
    OrvFileSaver full(4);
    EXPECT_FALSE(channel.SaveChannel(full));

    KestrionUnique loaded;
    loaded.SetChannelName("Other");
    OrvFileLoader good(saver.Bytes());
    EXPECT_TRUE(loaded.LoadChannel(good, nullptr));
    EXPECT_EQ(loaded.GetChannelName(), "KestrionUnique");
    OrvFileLoader foreign(std::string("not a channel"));
    EXPECT_FALSE(loaded.LoadChannel(foreign, nullptr));
    EXPECT_TRUE(NewCalls().empty());  // no suit state is saved or loaded
}

TEST_F(Channel, CallChannelDoesNothing) {
    channel.CallChannel();
    EXPECT_EQ(channel.GetChannelName(), "KestrionUnique");
    EXPECT_FALSE(channel.driver.Loop());
    EXPECT_TRUE(NewCalls().empty());
    EXPECT_TRUE(messages.Take().empty());
}

TEST_F(Channel, AFailedStartIsRetriedFromTheBeginningByTheNextConnect) {
    KestrionSim::SetInitResult(0);
    channel.Connect(0);
    EXPECT_EQ(NewCalls(), (Texts{"GyroInit()"}));
    EXPECT_EQ(messages.Take(), (Texts{"Kestrion: Unable to initialize"}));
    KestrionSim::SetInitResult(1);
    channel.Connect(0);
    const Texts calls = NewCalls();
    ASSERT_GE(calls.size(), 6u);
    EXPECT_EQ(calls[0], "GyroInit()");
    EXPECT_EQ(calls[5], "GyroOpen(0, 0, 0)");
    EXPECT_EQ(channel.GetNrOfSuits(), 3);
}

TEST_F(Channel, GetDataServesOnlyIndicesInRange) {
    channel.Connect(2);
    ASSERT_TRUE(KestrionSim::WaitForCalls("GyroRead", 1, 5000));
    Frame f = Filled(0x11);
    channel.GetData(-1, f);
    channel.GetData(3, f);
    channel.GetData(INT_MIN, f);
    channel.GetData(INT_MAX, f);
    EXPECT_TRUE(SameBytes(f, Filled(0x11)));
    channel.GetData(2, f);
    EXPECT_TRUE(KestrionSim::FrameIsWhole(f));
    channel.GetData(0, f);  // never connected: zeros
    EXPECT_TRUE(SameBytes(f, Filled(0)));
}

TEST_F(Channel, ResetStopsEverythingEvenWhenIdleAndTheNextConnectStartsAfresh) {
    channel.Reset();
    EXPECT_EQ(NewCalls(), (Texts{"GyroFinish()"}));
    EXPECT_EQ(messages.Take(), (Texts{"Stopped Kestrion driver"}));

    channel.Connect(0);
    ASSERT_TRUE(KestrionSim::WaitForCalls("GyroRead", 1, 5000));
    channel.Reset();
    channel.Reset();
    EXPECT_EQ(channel.GetNrOfSuits(), 0);
    EXPECT_FALSE(channel.driver.Loop());
    Texts calls = NewCalls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "GyroFinish()"), 2);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "GyroClose(" + std::to_string(KestrionSim::HandleOf(0)) + ")"), 0);
    messages.Take();

    KestrionSim::SetSuitCount(2);  // the next search decides the indices
    channel.Connect(1);
    EXPECT_EQ(channel.GetNrOfSuits(), 2);
    calls = NewCalls();
    EXPECT_EQ(calls.front(), "GyroInit()");
    EXPECT_EQ(messages.Take(), (Texts{"Searching for suits", "Found: 2 suits", "Started Kestrion driver"}));
}

TEST_F(Channel, CopiesKeepTheNameAndNeverReleaseWhatAnotherChannelUses) {
    auto source = std::make_unique<KestrionUnique>();
    source->Connect(0);
    ASSERT_TRUE(KestrionSim::WaitForCalls("GyroRead", 1, 5000));

    auto copy = std::make_unique<KestrionUnique>(*source);
    EXPECT_EQ(copy->GetChannelName(), "KestrionUnique");
    EXPECT_EQ(copy->GetNameChanges(), 0);  // named by the base's copy, not SetChannelName
    EXPECT_FALSE(copy->driver.Loop());
    EXPECT_EQ(copy->GetNrOfSuits(), 0);

    KestrionUnique assigned;
    assigned.SetChannelName("Renamed");
    assigned = *source;
    EXPECT_EQ(assigned.GetChannelName(), "KestrionUnique");
    EXPECT_FALSE(assigned.driver.Loop());

    // Destroying the copies leaves the source reading its own records.
    copy.reset();
    {
        KestrionUnique scratch(*source);
        scratch.Reset();
    }
    const std::size_t reads = KestrionSim::CountCalls("GyroRead");
    ASSERT_TRUE(KestrionSim::WaitForCalls("GyroRead", reads + 2, 5000));
    Frame f;
    source->GetData(0, f);
    EXPECT_TRUE(KestrionSim::FrameIsWhole(f));

    // And the other way round: a copy outlives its source.
    auto survivor = std::make_unique<KestrionUnique>(*source);
    source.reset();
    KestrionSim::Reset();
    survivor->Connect(1);
    ASSERT_TRUE(KestrionSim::WaitForCalls("GyroRead", 1, 5000));
    survivor->GetData(1, f);
    EXPECT_TRUE(KestrionSim::FrameIsWhole(f));
}
