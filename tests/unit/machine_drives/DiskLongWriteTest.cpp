#include "DriveHarness.h"

namespace harrow::machine::testing {
namespace {

using nlohmann::json;
using Bytes = std::vector<std::uint8_t>;

json Unit(json extra = json::object())
{
    json unit = {{"blocks", 8000}};
    unit.update(extra);
    return unit;
}

using DiskLongWriteTest = DriveTest;

TEST_F(DiskLongWriteTest, WriteLongKeepsTheDataPartAndNamesAWrongLength)
{
    Drive drive(Unit(), folder.Path());
    Bytes longBlock(566, 0x3C);
    std::fill(longBlock.begin() + 512, longBlock.end(), 0xEC);
    const auto written = drive.Send(Cdb10(0x3F, 9, 566), 0, longBlock);
    EXPECT_EQ(written.result.status, 0);
    const auto back = drive.Send(Cdb10(0x28, 9, 1), 512);
    EXPECT_EQ(back.data, Bytes(512, 0x3C));

    const auto wrong = drive.Send(Cdb10(0x3F, 9, 600), 0, Bytes(600, 0));
    EXPECT_TRUE(HasSense(wrong, 0x5, 0x24, 0x00));
    EXPECT_EQ(wrong.result.sense[2] & 0x20, 0x20);
    EXPECT_EQ(wrong.Information(), 600u - 566u);
    EXPECT_TRUE(HasSense(drive.Send(Cdb10(0x3F, 8000, 566), 0, longBlock), 0x5, 0x21, 0x00));
    // Fewer bytes than the long block: the host broke off the data phase.
    EXPECT_TRUE(HasSense(drive.Send(Cdb10(0x3F, 9, 566), 0, Bytes(100, 0)), 0xB, 0x4B, 0x00));
}

TEST_F(DiskLongWriteTest, WriteSameFillsARange)
{
    Drive drive(Unit(), folder.Path());
    EXPECT_EQ(drive.Send(Cdb10(0x41, 20, 3), 0, Bytes(512, 0x77)).result.status, 0);
    const auto back = drive.Send(Cdb10(0x28, 19, 5), 5 * 512);
    EXPECT_EQ(Bytes(back.data.begin(), back.data.begin() + 512), Bytes(512, 0));
    EXPECT_EQ(Bytes(back.data.begin() + 512, back.data.begin() + 4 * 512), Bytes(3 * 512, 0x77));
    EXPECT_EQ(Bytes(back.data.begin() + 4 * 512, back.data.end()), Bytes(512, 0));

    EXPECT_TRUE(HasSense(drive.Send(Cdb10(0x41, 20, 0), 0, Bytes(512, 0)), 0x5, 0x24, 0x00));
    EXPECT_TRUE(HasSense(drive.Send(Cdb10(0x41, 20, 1, 0x02), 0, Bytes(512, 0)), 0x5, 0x24, 0x00));
    EXPECT_TRUE(HasSense(drive.Send(Cdb10(0x41, 7999, 2), 0, Bytes(512, 0)), 0x5, 0x21, 0x00));
    EXPECT_TRUE(HasSense(drive.Send(Cdb10(0x41, 20, 1), 0, Bytes(100, 0)), 0xB, 0x4B, 0x00));
}

TEST_F(DiskLongWriteTest, AnOlderDriveKnowsOnlyTheTenByteDefectRead)
{
    Drive drive(Unit({{"readDefectData12", false}}), folder.Path());
    const Bytes read12{0xB7, 0x08, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0};
    EXPECT_TRUE(HasSense(drive.Send(read12, 8), 0x5, 0x20, 0x00));
    const auto read10 = drive.Send({0x37, 0, 0x08, 0, 0, 0, 0, 0, 4, 0}, 4);
    EXPECT_EQ(read10.result.status, 0);
    EXPECT_EQ(read10.data, (Bytes{0, 0x08, 0, 0}));
    EXPECT_THROW(Drive(Unit({{"readDefectData12", 1}}), folder.Path()), std::exception);
}

}  // namespace
}  // namespace harrow::machine::testing
