#include "CliRunner.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

const std::string kUsage =
    "Usage: Harrow Viraradiza [-option][variable][device]\n"
    "  [device] device address as 3 numbers - HA:TAR:LUN\n\n"
    "    -?  Print this usage information\n"
    "        "
    "    -r  generate Kestrel RMA form\n\n"
    "    -l  list all attached SCSI disks\n"
    "    -i  display drive Inquiry information\n"
    "    -t  ###%  execute ###% (10% - 100%) short Drive Self Test (DST)\n"
    "    -tl ###%  execute ###% (10% - 100%) long Drive Self Test (DST)\n"
    "    -s  stop Drive Self Test (DST)\n"
    "    -g  ###%  execute ###% (1% - 100%) generic short test\n"
    "    -gl  generic long test (sequential verify test of entire drive)\n\n"
    "  example: hrcli -i 1:3:0  displays inquiry for 1:3:0\n"
    "  example: hrcli -t 30% 1:3:0  run 30% of short DST for 1:3:0\n";

const std::string kBanner = "<TIME>  Harrow Viraradiza NT Command Line diagnostic\n";

std::string CommandLineEcho(const std::vector<std::string>& arguments)
{
    std::string text = "   " + std::string(HARROW_CLI_PATH) + " ";
    for (const auto& each : arguments) {
        text += each + " ";
    }
    return text + "\n";
}

TEST(Startup, NoArgumentPrintsUsageWithoutLoadingResources)
{
    CliRunner cli(MachinePath("lab.json"));
    const auto run = cli.RunWithoutResources({});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, kUsage);
}

TEST(Startup, MissingResourceLibraryAborts)
{
    CliRunner cli(MachinePath("lab.json"));
    const auto run = cli.RunWithoutResources({"-l"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Unable to load resource dll. Program aborting\n");
    EXPECT_FALSE(std::filesystem::exists(cli.WorkDir() / "HarrowCLI.log"));
}

TEST(Startup, VersionWithAndWithoutLicence)
{
    CliRunner cli(MachinePath("lab.json"));
    const std::string version = "\nHarrow Viraradiza Version " HARROW_VERSION " \n";
    auto run = cli.Run({"-V"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, kBanner + CommandLineEcho({"-V"}) + version);

    cli.WriteWorkFile("License Agreement.txt", "Line one of the licence.\nLine two.\n");
    run = cli.Run({"/v"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, kBanner + CommandLineEcho({"/v"}) + version + "Line one of the licence.\nLine two.\n");
}

TEST(Startup, ProductKeyWithoutDriverChoicesFallsBackToThePortTransport)
{
    CliRunner cli(MachinePath("lab.json"));
    cli.AppendRegistry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orb\\Harrow Viraradiza]\n\n");
    const auto run = cli.Run({"-l"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find(kInit), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" SCSI Port 0 SCSI ID: 7 aic78xx AIC-7899\n"), std::string::npos) << run.out;
}

TEST(Startup, PortWithoutTransportKeepsTheOtherAdaptersNumbers)
{
    CliRunner cli(MachinePath("two-ports.json"));
    cli.AppendRegistry("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orb\\Harrow Viraradiza\\DriverExceptions\\Win2000]\n"
                        "\"defaultdriver\"=dword:00000004\n\"buffermgr\"=dword:00000002\n"
                        "\"symc8xx\"=dword:00000002\n\n");
    auto run = cli.Run({"-l"});
    EXPECT_NE(run.out.find(" SCSI Port 1 SCSI ID: 7 aic78xx AIC-7899\n   1:2:0 Disc     MERIDIAN  MD3600LW"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("SCSI Port 0"), std::string::npos) << run.out;
    run = cli.Run({"-i", "1:2:0"});
    EXPECT_NE(run.out.find("\tVendor = MERIDIAN"), std::string::npos) << run.out;
    run = cli.Run({"-i", "0:2:0"});
    EXPECT_NE(run.out.find("Device Failed Inquiry No Sense Data"), std::string::npos) << run.out;
}

// Usage skips initialisation; a stray word alone is no command; a device
// command without a usable address is refused before initialisation (4).
TEST(Arguments, ExactOutputOfEachCommandLine)
{
    const std::string stray = CommandLineEcho({"-vx", "stray"});
    const struct {
        std::vector<std::string> arguments;
        int exitCode;
        std::string afterEcho;
    } cases[] = {
        {{"-?"}, 0, kUsage},
        {{"-c"}, 0, kInit + "Copyright (c) 2026 Kestrel Storage Products. All rights reserved.\n"},
        {{"-vx", "stray"}, 0,
         "Unexpected keyword : stray\n" + kInit + "No command was given on the command line:\n\t" +
             stray.substr(1, stray.size() - 2) + " \n\n" + kUsage},
        {{"-i"}, 4, ""},
        {{"-i", "0:0"}, 4, "Invalid device address : 0:0\n"},
    };
    CliRunner cli(MachinePath("lab.json"));
    for (const auto& c : cases) {
        const auto run = cli.Run(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments[0];
        EXPECT_EQ(run.out, kBanner + CommandLineEcho(c.arguments) + c.afterEcho);
    }
}

TEST(Arguments, AddressesOfThreeToFiveNumbersAreAccepted)
{
    CliRunner cli(MachinePath("lab.json"));
    for (const char* address : {"0:2:0", "0:1:2:0", "0:1:2:3:0"}) {
        const auto run = cli.Run({"-i", address});
        EXPECT_EQ(run.out.find("Invalid device address"), std::string::npos) << address << "\n" << run.out;
    }
    for (const char* address : {"0:1:2:3:4:5", "0:x:0"}) {
        const auto run = cli.Run({"-i", address});
        EXPECT_NE(run.out.find(std::string("Invalid device address : ") + address + "\n"), std::string::npos)
            << address << "\n" << run.out;
    }
}

TEST(Arguments, FirstKeywordWinsAndLaterAddressOverwrites)
{
    CliRunner cli(MachinePath("lab.json"));
    const auto run = cli.Run({"-i", "-l", "0:4:0", "0:2:0"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("\tVendor = MERIDIAN"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Device(s) found"), std::string::npos);
}

TEST(Arguments, TestCommandsWithoutADeviceAreRefused)
{
    CliRunner cli(MachinePath("lab.json"));
    for (const std::string option : {"-t", "-tl", "-s", "-g", "-gl"}) {
        const auto run = cli.Run({option, "30%"});
        EXPECT_EQ(run.exitCode, 4) << option;
        EXPECT_EQ(run.out.find("Initializing"), std::string::npos) << run.out;
        EXPECT_EQ(run.err, "HarrowCLI: " + option +
                               " needs a device: HA:TAR:LUN as -l lists it, or a /dev name on HARROW_MACHINE=linux\n");
    }
}

TEST(LogFile, EveryLoggedLineIsAppended)
{
    CliRunner cli(MachinePath("lab.json"));
    cli.Run({"-l"});
    cli.Run({"-?"});
    std::string log = cli.ReadWorkFile("HarrowCLI.log");
    const std::regex stamp(R"(\d{2}-[A-Z][a-z]{2}-\d{4} \d{2}:\d{2}:\d{2})");
    log = std::regex_replace(log, stamp, "<TIME>");
    EXPECT_EQ(log.find(kBanner + CommandLineEcho({"-l"}) + "<TIME>  Device(s) found during bus scan:\n"), 0U) << log;
    EXPECT_NE(log.find(" SCSI Port 0 SCSI ID: 7 aic78xx AIC-7899\n"), std::string::npos);
    EXPECT_NE(log.rfind(kBanner + CommandLineEcho({"-?"})), std::string::npos);
    // Usage goes to the console only.
    EXPECT_EQ(log.find("Usage:"), std::string::npos);
}

}  // namespace
