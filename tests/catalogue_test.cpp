// The command catalogue the plug-in publishes to the host.
#include "plugin/KestrionCmdType.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Owns the descriptors a test receives, as a host would.
struct Catalogue {
    std::vector<KestrionCmdType*> entries;
    ~Catalogue() {
        for (KestrionCmdType* e : entries) delete e;
    }
    void Fetch() { KestrionCmdType().GetCommandTypes(entries); }
};

}  // namespace

// The texts themselves are checked once, as `kestrion-host info` shows them
// (tests/host_program/info.golden). That shows each description line by
// line, so whether a description ends in a line break is checked here.
TEST(Catalogue, NineCommandsWhoseDescriptionsEndAsPublished) {
    Catalogue c;
    c.Fetch();
    ASSERT_EQ(c.entries.size(), 9u);
    const bool endsInLineBreak[] = {false, false, false, true, true, true, true, true, false};
    for (int i = 0; i < 9; ++i) {
        const std::string& d = c.entries[i]->Description();
        ASSERT_FALSE(d.empty());
        EXPECT_EQ(d.back() == '\n', endsInLineBreak[i]) << c.entries[i]->Name();
    }
    EXPECT_EQ(c.entries[3]->Id(), KestrionCmdType::CmdGetData);
    EXPECT_EQ(c.entries[7]->Id(), KestrionCmdType::CmdSetNorth);
}

TEST(Catalogue, AppendsAfterWhatTheListHoldsEveryTime) {
    Catalogue c;
    auto* mine = new KestrionCmdType(KestrionCmdType::CmdReset, "mine", "kept");
    c.entries.push_back(mine);
    c.Fetch();
    c.Fetch();
    ASSERT_EQ(c.entries.size(), 19u);
    EXPECT_EQ(c.entries[0], mine);
    EXPECT_EQ(c.entries[0]->Name(), "mine");
    for (int k = 1; k <= 9; ++k) {
        EXPECT_NE(c.entries[k], c.entries[k + 9]);
        EXPECT_EQ(c.entries[k]->Id(), c.entries[k + 9]->Id());
        EXPECT_EQ(c.entries[k]->Name(), c.entries[k + 9]->Name());
        EXPECT_EQ(c.entries[k]->Description(), c.entries[k + 9]->Description());
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
