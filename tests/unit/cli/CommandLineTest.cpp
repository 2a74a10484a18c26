#include "cli/CommandLine.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandLine, DevNamesAreDevicesNotOptions)
{
    const CommandLine line = ParseArguments({"-i", "/dev/sdb"});
    EXPECT_EQ(line.command, CMD_INQUIRY);
    EXPECT_TRUE(line.deviceGiven);
    EXPECT_EQ(line.deviceName, "/dev/sdb");
    EXPECT_FALSE(line.addressParsed);
}

TEST(CommandLine, TheLastDeviceArgumentCounts)
{
    CommandLine line = ParseArguments({"-i", "/dev/sdb", "0:2:0"});
    EXPECT_EQ(line.deviceName, "");
    EXPECT_TRUE(line.addressParsed);
    EXPECT_EQ(line.device.target, 2);
    line = ParseArguments({"-i", "0:2:0", "/dev/sg1"});
    EXPECT_EQ(line.deviceName, "/dev/sg1");
    EXPECT_FALSE(line.addressParsed);
    EXPECT_EQ(line.device.target, kNoNumber);
    testing::internal::CaptureStdout();
    line = ParseArguments({"-i", "0:2:0", "0:x"});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid device address : 0:x\n");
    EXPECT_FALSE(line.addressParsed) << "a mistyped address must not fall back to an earlier one";
    EXPECT_EQ(line.deviceText, "0:x");
}

TEST(CommandLine, LongOptionsAreNoCommands)
{
    const CommandLine line = ParseArguments({"--json", "--help", "--version", "-l"});
    EXPECT_EQ(line.command, CMD_LIST);
}

TEST(CommandLine, APercentageIsKnownToBeGiven)
{
    EXPECT_FALSE(ParseArguments({"-g", "1:2:0"}).percentGiven);
    const CommandLine line = ParseArguments({"-g", "0%", "1:2:0"});
    EXPECT_TRUE(line.percentGiven);
    EXPECT_EQ(line.percent, 0);
}

TEST(CommandLine, KeywordsOfCommands)
{
    EXPECT_EQ(KeywordOf(CMD_LONG_DST), "tl");
    EXPECT_EQ(KeywordOf(CMD_GENERIC_SHORT), "g");
    EXPECT_EQ(KeywordOf(CMD_NONE), "");
}

}  // namespace
