// The command catalogue the plug-in publishes to the host.
#include "plugin/KestrionCmdType.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
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

TEST(Catalogue, NineCommandsInTheirOrderWithTheirTexts) {
    Catalogue c;
    c.Fetch();
    ASSERT_EQ(c.entries.size(), 9u);
    const int ids[] = {1, 2, 4, 3, 5, 6, 7, 8, 9};
    const char* names[] = {"Connect to suit",      "Disconnect from suit",  "Get number of suits",
                           "Get data",             "Set to NULL position",  "Enable uneven terrain",
                           "Enable jumping",       "Set borth",             "Reset"};
    const char* descriptions[] = {"<Child #1> Suit nr (offset = 0)",
                                  "<Child #1> Suit nr (offset = 0)",
                                  "<Child #1> Value to store the number of connected suits",
                                  nullptr,
                                  "<Child #1> Suit nr\n",
                                  "<Child #1> Suit nr\n",
                                  "<Child #1> Suit nr\n",
                                  "<Child #1> Suit nr\n",
                                  "Drops all connections and resets the driver"};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(c.entries[i]->Id(), ids[i]);
        EXPECT_EQ(c.entries[i]->Name(), names[i]);
        if (descriptions[i] != nullptr) {
            EXPECT_EQ(c.entries[i]->Description(), descriptions[i]);
        }
        EXPECT_NE(c.entries[i]->Id(), KestrionCmdType::CmdNone);
        EXPECT_EQ(c.entries[i]->Name().find('\n'), std::string::npos);
        EXPECT_EQ(c.entries[i]->Description().find("gnore"), std::string::npos);  // no ignore-floor entry
    }
    EXPECT_EQ(c.entries[3]->Id(), KestrionCmdType::CmdGetData);
    EXPECT_EQ(c.entries[7]->Id(), KestrionCmdType::CmdSetNorth);
}

TEST(Catalogue, GetDataNamesTheSuitAndTheFramesNineteenVectors) {
    Catalogue c;
    c.Fetch();
    const std::string& d = c.entries[3]->Description();
    EXPECT_EQ(d.size(), 898u);
    EXPECT_EQ(std::count(d.begin(), d.end(), '\n'), 20);
    EXPECT_EQ(d.back(), '\n');
    EXPECT_EQ(d.rfind("<Child #1> Suit nr\n<Child #2> Vector to store Position\n", 0), 0u);
    EXPECT_NE(d.find("<Child #5> Vector to store Left knee rotation\n"), std::string::npos);
    EXPECT_NE(d.find("<Child #19> Vector to store Neck rotation\n<Child #20> Vector to store Head rotation\n"),
              std::string::npos);
    for (char ch : d) EXPECT_TRUE(ch == '\n' || (ch >= 32 && ch < 127));
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
    KestrionCmdType none;
    EXPECT_EQ(none.Id(), KestrionCmdType::CmdNone);
    EXPECT_TRUE(none.Name().empty());
    EXPECT_TRUE(none.Description().empty());

    KestrionCmdType source(KestrionCmdType::CmdSetNull, "Set to NULL position", "<Child #1> Suit nr\n");
    KestrionCmdType copy(source);
    EXPECT_EQ(copy.Id(), source.Id());
    EXPECT_EQ(copy.Name(), source.Name());
    EXPECT_EQ(copy.Description(), source.Description());
    EXPECT_NE(&copy.Name(), &source.Name());

    KestrionCmdType assigned;
    KestrionCmdType& result = (assigned = source);
    EXPECT_EQ(&result, &assigned);
    EXPECT_EQ(assigned.Description(), "<Child #1> Suit nr\n");
    assigned = assigned;
    EXPECT_EQ(assigned.Id(), KestrionCmdType::CmdSetNull);
    EXPECT_EQ(assigned.Name(), "Set to NULL position");

    // Deleting through the base pointer type releases everything (ASan checks).
    std::unique_ptr<KestrionCmdType> owned(new KestrionCmdType(source));
}
