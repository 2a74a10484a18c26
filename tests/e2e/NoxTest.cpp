// A machine with a Fibre Channel port driven by the Nox driver, between two
// ordinary ports, and a hidden Nox adapter.
#include "CliRunner.h"

#include <gtest/gtest.h>

namespace {

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST(NoxMachine, ListsInquiresAndTestsFibreDrives)
{
    CliRunner cli(MachinePath("fibre-nox.json"));
    const auto list = cli.Run({"-l"});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_TRUE(Has(list.out, " SCSI Port 1 SCSI ID: 255 lp6nds35 LP9002\n")) << list.out;
    EXPECT_TRUE(Has(list.out, "   1:0:0 Disc     KESTREL   KX36FC            K100      FC000000\n")) << list.out;
    // Path 2 target 9 of the loop is target 40: 31 targets a bus, paths from 1.
    EXPECT_TRUE(Has(list.out, "   1:40:0 Disc     KESTREL   KX36FC            K100      FC000040\n")) << list.out;
    EXPECT_TRUE(Has(list.out, "   0:0:0 Disc     KESTREL   KX18LVD           K100      PAR00000\n")) << list.out;
    EXPECT_TRUE(Has(list.out, "   2:3:0 Disc     MERIDIAN  MD3600LW")) << list.out;
    EXPECT_FALSE(Has(list.out, "PSEUDO")) << list.out;
    EXPECT_FALSE(Has(list.out, "   3:")) << list.out;  // the hidden adapter has no drives

    const auto inquiry = cli.Run({"-i", "1:40:0"});
    EXPECT_EQ(inquiry.exitCode, 0);
    EXPECT_TRUE(Has(inquiry.out, "\tSerial Number = FC000040\n")) << inquiry.out;
    // Beyond the 128 targets a listing probes, a drive is still reached by its address.
    const auto far = cli.Run({"-i", "1:154:0"});
    EXPECT_EQ(far.exitCode, 0);
    EXPECT_TRUE(Has(far.out, "\tSerial Number = FC000154\n")) << far.out;

    const auto verify = cli.Run({"-gl", "1:40:0"});
    EXPECT_EQ(verify.exitCode, 0) << verify.out << verify.err;
}

TEST(NoxMachine, WithoutTheLibraryTheOtherPortsWork)
{
    CliRunner cli(MachinePath("fibre-nox.json"));
    const auto list = cli.RunWithoutLibrary("libnoxcomm.so", {"-l"});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_TRUE(Has(list.err, "Driver is not installed correctly (possibly NOXComm.dll missing from path)"))
        << list.err;
    EXPECT_TRUE(Has(list.out, "   0:0:0 Disc     KESTREL   KX18LVD")) << list.out;
    EXPECT_TRUE(Has(list.out, "   2:3:0 Disc     MERIDIAN  MD3600LW")) << list.out;
    EXPECT_FALSE(Has(list.out, "1:40:0")) << list.out;
}

}  // namespace
