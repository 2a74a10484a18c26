// Drives of today: past 2 TiB, 4096-byte blocks, serial numbers in VPD page
// 80h, RAID volumes that fail SEEK alone.
#include "CliRunner.h"

#include <gtest/gtest.h>

namespace {

std::string ShortTestLines(const std::string& address, const std::string& seekLine = "")
{
    return "<TIME>  Start 1% Generic Short Test (^C to abort)\n"
           "<TIME>  Performing Sequential Read (start of disk)\n"
           "<TIME>  Performing Sequential Read (end of disk)\n"
           "<TIME>  Performing Random Read Commands\n"
           "<TIME>  Performing Random Seek Commands\n" +
           seekLine + "<TIME> " + address + "  Generic Short Test Passed\n";
}

std::string LongTestEnd(const std::string& address)
{
    return "\tVerify is 90% complete . . .\n<TIME> " + address + "   Generic Long Test Passed\n";
}

TEST(LargeDrive, InquiryShowsTheWholeCapacity)
{
    CliRunner cli(MachinePath("large.json"));
    auto run = cli.Run({"-i", "0:0:0"});
    EXPECT_NE(run.out.find("\tBlocksize = 512, Highblock = 6442450943, Capacity = 3145728 MB\n"), std::string::npos)
        << run.out;
    // Last block 0xFFFFFFFF exactly: the 10-byte answer saturates, the 16-byte one is still in range.
    run = cli.Run({"-i", "0:1:0"});
    EXPECT_NE(run.out.find("\tBlocksize = 512, Highblock = 4294967295, Capacity = 2097152 MB\n"), std::string::npos)
        << run.out;
    run = cli.Run({"-l"});
    EXPECT_NE(run.out.find("  0:0:0 Disc "), std::string::npos) << run.out;
}

TEST(LargeDrive, HostTestsReachBlocksPast32BitAddresses)
{
    CliRunner cli(MachinePath("today.json"));
    auto run = cli.Run({"-i", "0:0:0"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("\tBlocksize = 512, Highblock = 39062499999, Capacity = 19073486 MB\n"),
              std::string::npos)
        << run.out;

    // The end of the disk and the random reads and seeks lie past 2^32.
    run = cli.Run({"-g", "1%", "0:0:0"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(AfterInit(run), ShortTestLines("Port:0 Target:0 Lun:0"));

    run = cli.Run({"-gl", "0:0:0"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    const std::string report = AfterInit(run);
    EXPECT_TRUE(report.starts_with("<TIME>  Starting 100% Generic Long Test (^C to abort)\n")) << report;
    EXPECT_TRUE(report.ends_with(LongTestEnd("Port:0 Target:0 Lun:0"))) << report;

    // A drive of exactly 2^32 blocks still fits the 10-byte commands.
    CliRunner edge(MachinePath("large.json"));
    run = edge.Run({"-g", "1%", "0:1:0"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(AfterInit(run).ends_with("<TIME> Port:0 Target:1 Lun:0  Legacy Short Test Passed\n")) << run.out;
}

TEST(LargeDrive, FourKibibyteBlocksPassTheHostTests)
{
    CliRunner cli(MachinePath("today.json"));
    auto run = cli.Run({"-i", "0:1:0"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("\tBlocksize = 4096, Highblock = 3906249999, Capacity = 15258789 MB\n"),
              std::string::npos)
        << run.out;
    run = cli.Run({"-g", "1%", "0:1:0"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(AfterInit(run), ShortTestLines("Port:0 Target:1 Lun:0"));
    run = cli.Run({"-gl", "10%", "0:1:0"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(AfterInit(run).ends_with(LongTestEnd("Port:0 Target:1 Lun:0"))) << run.out;
}

TEST(ForeignDrive, BlankInquirySerialIsTakenFromTheUnitSerialNumberPage)
{
    CliRunner cli(MachinePath("today.json"));
    const auto run = cli.Run({"-i", "0:2:0"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(AfterInit(run), " \tDevice = Port:0 Target:2 Lun:0 \n"
                              "\tVendor = ACME     \n"
                              "\tProduct = BARE SERIAL      \n"
                              "\tVersion = A100\n"
                              "\tSerial Number = ZX81B3C4\n"
                              " \tBlocksize = 512, Highblock = 2097151, Capacity = 1024 MB\n");
}

// A RAID volume behind megaraid_sas fails SEEK alone with HARDWARE ERROR
// 04/44/00; its reads pass, so the seek phase is skipped, not failed.
TEST(RaidVolume, SeekFailingAloneSkipsTheSeekPhase)
{
    CliRunner cli(MachinePath("today.json"));
    const auto run = cli.Run({"-g", "1%", "0:3:0"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(AfterInit(run),
              ShortTestLines("Port:0 Target:3 Lun:0",
                             "<TIME>  Random Seek Commands skipped: the drive does not support SEEK\n"));
}

}  // namespace
