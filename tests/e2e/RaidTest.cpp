// Drives behind an AMI MegaRAID controller (HA:CH:TAR:LUN) and behind a Mylex
// controller LUN (HA:RT:CH:TAR:LUN) answer as the same drive on a plain port.
#include "CliRunner.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The report without what names the drive: its address and serial number.
std::string Anonymous(const std::string& report)
{
    const std::string fromDevice = report.substr(report.find("\tDevice = "));
    return std::regex_replace(std::regex_replace(fromDevice, std::regex("Device = [^\n]*"), "Device"),
                              std::regex("Serial Number = [A-Z0-9]+"), "Serial Number");
}

TEST(RaidMachine, DrivesBehindBothControllersAnswerAsOnAPlainPort)
{
    CliRunner cli(MachinePath("raid.json"));
    const auto list = cli.Run({"-l"});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_TRUE(Has(list.out, " SCSI Port 1 SCSI ID: 15  mraid35x/\n")) << list.out;
    EXPECT_TRUE(Has(list.out, "   0:2:0 Disc     MYLEX     DAC960PTL1")) << list.out;
    EXPECT_TRUE(Has(list.out, "   1:1:5:0 Disc     KESTREL   KX18LVD           K100      AMI00015\n")) << list.out;

    const auto plain = cli.Run({"-i", "0:0:0"});
    ASSERT_EQ(plain.exitCode, 0) << plain.out;
    for (const char* address : {"1:0:1:0", "0:2:0:1:0"}) {
        const auto behind = cli.Run({"-i", address});
        EXPECT_EQ(behind.exitCode, 0) << address << behind.out;
        EXPECT_EQ(Anonymous(behind.out), Anonymous(plain.out)) << address;
        for (const std::vector<std::string>& command :
             {std::vector<std::string>{"-t", "100%"}, {"-g", "1%"}, {"-gl"}}) {
            std::vector<std::string> arguments = command;
            arguments.push_back(address);
            const auto run = cli.Run(arguments);
            EXPECT_EQ(run.exitCode, 0) << address << " " << command[0] << run.out << run.err;
        }
    }
    EXPECT_TRUE(Has(cli.Run({"-i", "1:1:5:0"}).out, "\tSerial Number = AMI00015\n"));
    EXPECT_TRUE(Has(cli.Run({"-i", "0:2:2:3:0"}).out, "\tSerial Number = MYX00023\n"));
}

TEST(RaidMachine, AMediumErrorBehindAChannelFailsTheLongTestWithThatDrivesSense)
{
    CliRunner cli(MachinePath("raid.json"));
    for (const char* address : {"1:1:5:0", "0:2:2:3:0"}) {
        const auto run = cli.Run({"-gl", address});
        EXPECT_EQ(run.exitCode, 2) << address << run.out;
        EXPECT_TRUE(Has(run.out, "Legacy Long Test Failed 03 / 11 / 00")) << address << run.out;
    }
    const auto nothing = cli.Run({"-i", "1:1:6:0"});
    EXPECT_EQ(nothing.exitCode, 1) << nothing.out;
}

TEST(RaidMachine, WithoutThePlugInTheControllerHasNoDrives)
{
    CliRunner cli(MachinePath("raid.json"));
    const auto list = cli.RunWithoutLibrary("liborbamiraid.so", {"-l"});
    EXPECT_EQ(list.exitCode, 0) << list.err;
    EXPECT_TRUE(Has(list.out, "   0:0:0 Disc     KESTREL   KX18LVD")) << list.out;
    EXPECT_FALSE(Has(list.out, "1:1:5:0")) << list.out;
    EXPECT_EQ(cli.RunWithoutLibrary("liborbamiraid.so", {"-i", "1:1:5:0"}).exitCode, 1);
}

}  // namespace
