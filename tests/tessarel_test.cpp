// The host engine stand-in: what the plug-in and host programs rely on.
#include "host/ChannelType.h"
#include "host/EngineInterface.h"
#include "host/OrvFileLoader.h"
#include "host/OrvFileSaver.h"
#include "host/Orv_Channel.h"
#include "host/Orv_ChannelGroup.h"
#include "host/Orv_List.h"
#include "support/DebugMessages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

TEST(TessarelChannel, KeepsItsNameAndDependencies) {
    Orv_Channel channel;
    channel.SetChannelName("First");
    channel.SetChannelName("Second");
    EXPECT_EQ(channel.GetChannelName(), "Second");
    EXPECT_EQ(channel.GetNameChanges(), 2);
    Orv_Channel copy(channel);
    EXPECT_EQ(copy.GetChannelName(), "Second");
    EXPECT_EQ(copy.GetNameChanges(), 0);

    Orv_List list;
    channel.AddDLLDepend("a.dll", &list);
    channel.AddDLLDepend("b.dll", &list);
    channel.AddDLLDepend("a.dll", &list);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.At(0), "a.dll");
    EXPECT_EQ(list.At(2), "a.dll");
}

TEST(TessarelChannel, SavesAndLoadsItsState) {
    Orv_Channel saved;
    saved.SetChannelName("Suit channel");
    saved.SetChannelInterfaceType(4);
    saved.SetTimeStamp();
    OrvFileSaver saver;
    ASSERT_TRUE(saved.SaveChannel(saver));

    Orv_ChannelGroup group("Group");
    Orv_Channel loaded;
    OrvFileLoader loader(saver.Bytes());
    ASSERT_TRUE(loaded.LoadChannel(loader, &group));
    EXPECT_EQ(loaded.GetChannelName(), "Suit channel");
    EXPECT_EQ(loaded.GetChannelInterfaceType(), 4);
    EXPECT_EQ(loaded.GetTimeStamp(), saved.GetTimeStamp());
    EXPECT_EQ(loaded.GetChannelGroup(), &group);
}

TEST(TessarelChannel, RefusesTruncatedOrForeignFilesAndChangesNothing) {
    Orv_Channel saved;
    saved.SetChannelName("Saved");
    OrvFileSaver saver;
    ASSERT_TRUE(saved.SaveChannel(saver));
    const std::string bytes = saver.Bytes();

    std::vector<std::string> bad;
    for (std::size_t n = 0; n < bytes.size(); ++n) bad.push_back(bytes.substr(0, n));
    std::string foreign = bytes;
    foreign[0] = 'X';
    bad.push_back(foreign);
    std::string hugeName = bytes;
    hugeName[8] = hugeName[9] = hugeName[10] = hugeName[11] = '\xff';
    bad.push_back(hugeName);

    for (const std::string& b : bad) {
        Orv_Channel target;
        target.SetChannelName("Untouched");
        OrvFileLoader loader(b);
        EXPECT_FALSE(target.LoadChannel(loader, nullptr)) << "length " << b.size();
        EXPECT_EQ(target.GetChannelName(), "Untouched");
    }
}

TEST(TessarelChannel, SaveFailsWhenTheSaverIsFull) {
    Orv_Channel channel;
    channel.SetChannelName("Too long for the disk");
    OrvFileSaver tiny(10);
    EXPECT_FALSE(channel.SaveChannel(tiny));
    EXPECT_FALSE(tiny.Good());
}

TEST(TessarelChannelType, ConstructorValuesAreRecognisable) {
    ChannelType type;
    EXPECT_STREQ(type.typeName, "<unregistered channel type>");
    EXPECT_EQ(type.engineVersion, 0x00030001u);
    EXPECT_EQ(std::memcmp(reinterpret_cast<const char*>(&type) + 116, "TSRL", 4), 0);
    EXPECT_EQ(type.deviceChannel, -1);
    EXPECT_EQ(type.userCreatable, -1);
    EXPECT_EQ(type.options, 0xFFFFFFFFu);
}

TEST(TessarelDebugOutput, GoesToTheSinkOneTextAtATime) {
    kxtest::DebugMessages messages;
    const std::uint32_t before = globalEngine->ShowDebugMessage.linesShown;
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < 100; ++i) globalEngine->ShowDebugMessage(("line " + std::to_string(t)).c_str());
        });
    }
    for (auto& w : writers) w.join();
    const auto lines = messages.Take();
    EXPECT_EQ(lines.size(), 400u);
    for (const auto& line : lines) EXPECT_EQ(line.rfind("line ", 0), 0u);
    EXPECT_EQ(globalEngine->ShowDebugMessage.linesShown - before, 400u);
}
