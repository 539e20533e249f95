// The channel as the host builds, names, saves and copies it, and the
// command catalogue it publishes. Its device operations are the reference
// model's to check (model_test), its type record is checked where the
// plug-in is loaded by path.
#include "host/OrvFileLoader.h"
#include "host/OrvFileSaver.h"
#include "host/Orv_List.h"
#include "plugin/KestrionCmdType.h"
#include "plugin/KestrionUnique.h"
#include "support/SuitLibraryTest.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

class Channel : public kxtest::SuitLibraryTest {
protected:
    KestrionUnique channel;
};

// Owns the descriptors a test receives, as a host would.
struct Catalogue {
    std::vector<KestrionCmdType*> entries;
    ~Catalogue() {
        for (KestrionCmdType* e : entries) delete e;
    }
    void Fetch() { KestrionCmdType().GetCommandTypes(entries); }
};

}  // namespace

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

// A new channel is named once and touches nothing until it is connected
// (InitDLL's channels: plugin_loading_test).
TEST_F(Channel, CopiesKeepTheNameAndNeverReleaseWhatAnotherChannelUses) {
    auto source = std::make_unique<KestrionUnique>();
    EXPECT_EQ(source->GetNameChanges(), 1);
    source->CallChannel();  // does nothing either
    EXPECT_TRUE(NewCalls().empty() && messages.Take().empty());
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

// The texts and ids are checked once, as `kestrion-host info` shows them
// (tests/host_program/info.golden). That shows each description line by
// line, so whether a description ends in a line break is checked here.
TEST(Catalogue, NineCommandsAppendedAfterWhatTheListHoldsEveryTime) {
    Catalogue c;
    auto* mine = new KestrionCmdType(KestrionCmdType::CmdReset, "mine", "kept");
    c.entries.push_back(mine);
    c.Fetch();
    c.Fetch();
    ASSERT_EQ(c.entries.size(), 19u);
    EXPECT_EQ(c.entries[0], mine);
    EXPECT_EQ(c.entries[0]->Name(), "mine");
    const bool endsInLineBreak[] = {false, false, false, true, true, true, true, true, false};
    for (int k = 1; k <= 9; ++k) {
        const KestrionCmdType &a = *c.entries[k], &b = *c.entries[k + 9];
        ASSERT_FALSE(a.Description().empty());
        EXPECT_EQ(a.Description().back() == '\n', endsInLineBreak[k - 1]) << a.Name();
        EXPECT_NE(&a, &b);
        EXPECT_TRUE(a.Id() == b.Id() && a.Name() == b.Name() && a.Description() == b.Description()) << a.Name();
    }
}

TEST(Catalogue, DescriptorsDefaultCopyAndAssign) {
    const KestrionCmdType none;
    EXPECT_EQ(none.Id(), KestrionCmdType::CmdNone);
    EXPECT_TRUE(none.Name().empty() && none.Description().empty());
    const KestrionCmdType source(KestrionCmdType::CmdSetNull, "Set to NULL position", "<Child #1> Suit nr\n");
    KestrionCmdType copy(source), assigned;
    EXPECT_EQ(&(assigned = copy), &assigned);
    assigned = assigned;
    for (const KestrionCmdType* c : {&copy, &assigned}) {
        EXPECT_EQ(c->Id(), KestrionCmdType::CmdSetNull);
        EXPECT_EQ(c->Name(), "Set to NULL position");
        EXPECT_EQ(c->Description(), "<Child #1> Suit nr\n");
    }
}
