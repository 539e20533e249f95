// The host engine stand-in: what the plug-in's tests and the host program
// rely on, beyond what the plug-in's own tests show of it.
#include "host/EngineInterface.h"
#include "host/OrvFileLoader.h"
#include "host/OrvFileSaver.h"
#include "host/Orv_Channel.h"
#include "host/Orv_ChannelGroup.h"
#include "support/SuitLibraryTest.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

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
