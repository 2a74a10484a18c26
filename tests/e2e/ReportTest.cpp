#include "CliRunner.h"

#include <gtest/gtest.h>

namespace {

// The serial number is shown only for the maker's drives; an adapter without
// devices, or reporting no supported ones, is still listed.
TEST(Listing, EveryAdapterAndDeviceOnItsLine)
{
    const std::string found = "<TIME>  Device(s) found during bus scan:\n";
    const struct {
        const char* machine;
        int exitCode;
        std::string listing;
    } cases[] = {
        {"lab.json", 0,
         found + " SCSI Port 0 SCSI ID: 7 aic78xx AIC-7899\n"
                 "   0:0:0 Disc     KESTREL   KX18LVD           K100      LAB00001\n"
                 "   0:1:0 Disc     KESTREL   KX09LVD           K100      LAB00002\n"
                 "   0:2:0 Disc     MERIDIAN  MD3600LW          M200              \n"
                 "   0:4:0 Tape     HARROW    SIM TAPE          K100              \n"},
        {"empty.json", 1, found + " SCSI Port 0 SCSI ID: 7 aic78xx AIC-7899\n<TIME>  No HBA has been detected\n"},
        {"no-targets.json", 1, found + " SCSI Port 0 SCSI ID: 255 lp6nds35 LP9002\n<TIME>  No HBA has been detected\n"},
    };
    for (const auto& c : cases) {
        CliRunner cli(MachinePath(c.machine));
        const auto run = cli.Run({"-l"});
        EXPECT_EQ(run.exitCode, c.exitCode) << c.machine;
        EXPECT_EQ(AfterInit(run), c.listing) << c.machine;
    }
}

TEST(Listing, WideAdapterIsProbedPastTarget15)
{
    CliRunner cli(MachinePath("wide.json"));
    const auto run = cli.Run({"-l"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(AfterInit(run).find("   0:20:0 Disc     MERIDIAN  MD3600FC          M300              \n"),
              std::string::npos)
        << run.out;
}

const std::string kKestrelIdentity = " \tDevice = Port:0 Target:0 Lun:0 \n"
                                     "\tVendor = KESTREL  \n"
                                     "\tProduct = KX18LVD          \n"
                                     "\tVersion = K100\n"
                                     "\tSerial Number = LAB00001\n"
                                     " \tCopyright = Copyright  c  2001 Kestrel  all rights reserved\n";

const std::string kModePages = " \t-Mode Page Settings [current value (default)]:\n"
                               " \t\t-WCE bit = 1 (1)\n"
                               " \t\t-RCD bit = 0 (0)\n"
                               " \t\t-AWRE bit = 1 (1)\n"
                               " \t\t-ARRE bit = 1 (1)\n"
                               " \t\t-DExcpt bit = 0 (0)\n"
                               " \t\t-Number of cache segments = 16 (16)\n"
                               " \t\t-PM  bit = 0 (0)\n"
                               " \t\t-DLM bit = 0 (0)\n"
                               " \t\t-DTOLI bit = 0 (0)\n"
                               " \t\t-JIT bit 0 = 1 (1)\n"
                               " \t\t-JIT bit 1 = 1 (1)\n"
                               " \t\t-JIT bit 2 = 1 (1)\n"
                               " \t\t-JIT bit 3 = 0 (0)\n\n";

TEST(Inquiry, KestrelDriveWithSelfTest)
{
    CliRunner cli(MachinePath("lab.json"));
    const auto run = cli.Run({"-i", "0:0:0"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(AfterInit(run), kKestrelIdentity +
                                  " \tSCSI Firmware = FW123456\n"
                                  " \tServo RAM Release = SRAM0001\n"
                                  " \tServo ROM Release = SROM0002\n"
                                  " \tServo RAM Date = 0101\n"
                                  " \tServo ROM Date = 0202\n\n"
                                  " \tBlocksize = 512, Highblock = 2097151, Capacity = 1024 MB\n"
                                  " \t-this is a Kestrel drive\n"
                                  " \t-this drive supports DST\n"
                                  " \t\t-short DST time = 120 seconds\n"
                                  " \t\t-long DST time = 1800 seconds\n" +
                                  kModePages);
}

TEST(Inquiry, KestrelDriveWithoutSelfTest)
{
    CliRunner cli(MachinePath("lab.json"));
    const std::string report = AfterInit(cli.Run({"-i", "0:1:0"}));
    EXPECT_NE(report.find(" \tBlocksize = 512, Highblock = 1048575, Capacity = 512 MB\n"
                          " \t-this is a Kestrel drive\n"
                          " \t-this drive does not support DST\n" +
                          kModePages),
              std::string::npos)
        << report;
}

TEST(Inquiry, OtherMakerAndTapeGetIdentityOnly)
{
    CliRunner cli(MachinePath("lab.json"));
    auto run = cli.Run({"-i", "0:2:0"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(AfterInit(run), " \tDevice = Port:0 Target:2 Lun:0 \n"
                              "\tVendor = MERIDIAN \n"
                              "\tProduct = MD3600LW         \n"
                              "\tVersion = M200\n"
                              "\tSerial Number = LAB00003\n"
                              " \tBlocksize = 512, Highblock = 4095, Capacity = 2 MB\n");
    run = cli.Run({"-i", "0:4:0"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(AfterInit(run), " \tDevice = Port:0 Target:4 Lun:0 \n"
                              "\tVendor = HARROW   \n"
                              "\tProduct = SIM TAPE         \n"
                              "\tVersion = K100\n"
                              "\tSerial Number = LAB00004\n");
}

TEST(Inquiry, AbsentDeviceFailsInquiry)
{
    CliRunner cli(MachinePath("lab.json"));
    const auto run = cli.Run({"-i", "0:3:0"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(AfterInit(run), " Device Failed Inquiry No Sense Data\n");
}

}  // namespace

namespace {

// Another maker's drive sold under a "KX" product name counts as the maker's,
// but has neither the firmware page nor the vendor and port control pages.
TEST(Inquiry, UnreadablePagesAreLeftOutOrShownAsFF)
{
    CliRunner cli(MachinePath("rebadged.json"));
    const auto run = cli.Run({"-i", "0:3:0"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(AfterInit(run), " \tDevice = Port:0 Target:3 Lun:0 \n"
                              "\tVendor = OEMCORP  \n"
                              "\tProduct = KX36OEM          \n"
                              "\tVersion = R001\n"
                              "\tSerial Number = OEM00001\n"
                              " \tCopyright = " + std::string(47, ' ') + "\n"
                              " \tSCSI Firmware = \n"
                              " \tServo RAM Release = \n"
                              " \tServo ROM Release = \n"
                              " \tServo RAM Date = \n"
                              " \tServo ROM Date = \n\n"
                              " \tBlocksize = 512, Highblock = 8191, Capacity = 4 MB\n"
                              " \t-this is a Kestrel drive\n"
                              " \t-this drive supports DST\n"
                              " \t\t-short DST time = 120 seconds\n"
                              " \t\t-long DST time = 0 seconds\n"
                              " \t-Mode Page Settings [current value (default)]:\n"
                              " \t\t-WCE bit = 1 (1)\n"
                              " \t\t-RCD bit = 0 (0)\n"
                              " \t\t-AWRE bit = 1 (1)\n"
                              " \t\t-ARRE bit = 1 (1)\n"
                              " \t\t-DExcpt bit = 0 (0)\n"
                              " \t\t-Number of cache segments = 16 (16)\n"
                              " \t\t-PM  bit = FF (FF)\n");
}

}  // namespace
