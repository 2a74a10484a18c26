// Drives of 2 TiB and more: READ CAPACITY(10) cannot describe them.
#include "CliRunner.h"

#include <gtest/gtest.h>

namespace {

TEST(LargeDrive, InquiryShowsTheWholeCapacityAndHostTestsRefuseClearly)
{
    CliRunner cli(MachinePath("large.json"));
    auto run = cli.Run({"-i", "0:0:0"});
    EXPECT_NE(run.out.find("\tBlocksize = 512, Highblock = 6442450943, Capacity = 3145728 MB\n"), std::string::npos)
        << run.out;
    // Last block 0xFFFFFFFF exactly: the 10-byte answer saturates, the 16-byte one is still in range.
    run = cli.Run({"-i", "0:1:0"});
    EXPECT_NE(run.out.find("\tBlocksize = 512, Highblock = 4294967295, Capacity = 2097152 MB\n"), std::string::npos)
        << run.out;

    run = cli.Run({"-gl", "0:0:0"});
    EXPECT_NE(run.out.find("Port:0 Target:0 Lun:0  Drive too large for this test: last block 6442450943 is beyond "
                           "32-bit block addresses\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("Legacy Long Test Failed No Sense Data Available"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Verify is"), std::string::npos) << run.out;
    EXPECT_EQ(run.exitCode, 1);

    run = cli.Run({"-l"});
    EXPECT_NE(run.out.find("  0:0:0 Disc "), std::string::npos) << run.out;
}

}  // namespace
