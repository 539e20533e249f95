// The plug-in loaded by path at run time, as the host loads it: this
// program does not link to the plug-in library; it resolves the entry points
// and the channel's members by name. (The catalogue it publishes, and the
// refusal of other libraries, are checked through kestrion-host.)
#include "app/channel/PluginLibrary.h"
#include "app/platform/DynamicLibrary.h"
#include "support/SuitLibraryTest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

using kxtest::Texts;

namespace {

std::string PluginPath() { return kx::ProgramDirectory() + kx::LibraryFileName("KestrionUnique"); }

class LoadedPlugin : public kxtest::SuitLibraryTest {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(plugin.Load(PluginPath(), &error)) << error;
    }
    kxhost::PluginLibrary plugin;
};

}  // namespace

TEST_F(LoadedPlugin, RecordIsTheSuitChannelTypeByteForByte) {
    ChannelType* type = plugin.GetType();
    ASSERT_EQ(type, plugin.GetType());
    ChannelType expected;  // the host's own fields as its constructor left them
    std::memset(expected.typeName, 0, sizeof expected.typeName);
    std::strcpy(expected.typeName, "KestrionUnique");
    std::memcpy(&expected.typeGuid, kxhost::kChannelTypeGuid, 16);
    std::memcpy(&expected.classGuid, kxhost::kChannelTypeGuid, 16);
    expected.deviceChannel = expected.userCreatable = 1;
    expected.options = 0;
    EXPECT_EQ(std::memcmp(type, &expected, sizeof expected), 0);
}

TEST_F(LoadedPlugin, TwoChannelsConnectReadDisconnectResetAndGo) {
    auto first = plugin.NewChannel();
    auto second = plugin.NewChannel();
    ASSERT_NE(first->Base(), second->Base());
    first->Connect(0);
    second->Connect(1);
    EXPECT_EQ(first->GetNrOfSuits(), 3);
    EXPECT_EQ(second->GetNrOfSuits(), 3);
    Frame a{}, b{};
    ASSERT_TRUE(kxtest::WholeFrameArrives(*first, 0, a));
    ASSERT_TRUE(kxtest::WholeFrameArrives(*second, 1, b));
    EXPECT_EQ(b.tailWords[1], 1u);

    // The settings' members are resolved and checked where the view drives
    // them (view_test.sh); the host program never disconnects.
    NewCalls();
    second->Disconnect(1);
    Texts calls;
    for (const std::string& call : NewCalls()) {
        if (call.rfind("GyroRead", 0) != 0) calls.push_back(call);
    }
    EXPECT_EQ(calls, Texts{"GyroClose(" + std::to_string(KestrionSim::HandleOf(1)) + ")"});

    first->Reset();
    EXPECT_EQ(first->GetNrOfSuits(), 0);
    first.reset();  // through the virtual destructor
    second.reset();
}
