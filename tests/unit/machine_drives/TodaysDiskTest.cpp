// What the simulated disk answers for drives of today: 16-byte block
// commands, the Block Limits page, a serial kept in VPD page 80h only, and
// SEEK failing alone as on a RAID volume.
#include "DriveHarness.h"

#include <string>

namespace harrow::machine::testing {
namespace {

std::vector<std::uint8_t> Cdb16(std::uint8_t opcode, std::uint64_t lba, std::uint32_t blocks, std::uint8_t flags = 0)
{
    std::vector<std::uint8_t> cdb(16, 0);
    cdb[0] = opcode;
    cdb[1] = flags;
    for (int i = 0; i < 8; ++i) cdb[2 + i] = static_cast<std::uint8_t>(lba >> (56 - 8 * i));
    for (int i = 0; i < 4; ++i) cdb[10 + i] = static_cast<std::uint8_t>(blocks >> (24 - 8 * i));
    return cdb;
}

using TodaysDiskTest = DriveTest;

TEST_F(TodaysDiskTest, SixteenByteCommandsReachBlocksPast32Bits)
{
    constexpr std::uint64_t kBlocks = 39062500000ULL;  // 20 TB of 512-byte blocks
    Drive drive({{"vendor", "ACME"}, {"blocks", kBlocks}}, folder.Path());
    std::vector<std::uint8_t> data(1024, 0x5A);
    ASSERT_EQ(drive.Send(Cdb16(0x8A, 0x100000000ULL - 1, 2), 0, data).result.status, 0);
    auto back = drive.Send(Cdb16(0x88, 0x100000000ULL - 1, 2), 1024);
    EXPECT_EQ(back.result.status, 0);
    EXPECT_EQ(back.data, data);
    // The same blocks through a 10-byte READ would be LBA 0xFFFFFFFF and 0: the data are not there.
    EXPECT_EQ(drive.Send(Cdb10(0x28, 0, 1), 512).data, std::vector<std::uint8_t>(512, 0));

    EXPECT_EQ(drive.Send(Cdb16(0x8F, kBlocks - 1, 1)).result.status, 0);
    EXPECT_TRUE(HasSense(drive.Send(Cdb16(0x8F, kBlocks - 1, 2)), 5, 0x21, 0));
    EXPECT_TRUE(HasSense(drive.Send(Cdb16(0x8F, kBlocks, 1)), 5, 0x21, 0));
    // BYTCHK compares what the host sends with the medium.
    EXPECT_EQ(drive.Send(Cdb16(0x8F, 0x100000000ULL - 1, 2, 0x02), 0, data).result.status, 0);
    EXPECT_TRUE(HasSense(drive.Send(Cdb16(0x8F, 0x100000000ULL, 2, 0x02), 0, data), 0xE, 0x1D, 0));
    // WRITE AND VERIFY(16); the state file of ext4 ends at 16 TiB, so below that.
    EXPECT_EQ(drive.Send(Cdb16(0x8E, 0x100000000ULL + 10, 2), 0, data).result.status, 0);
    EXPECT_EQ(drive.Send(Cdb16(0x88, 0x100000000ULL + 10, 2), 1024).data, data);
}

TEST_F(TodaysDiskTest, BlockLimitsPageCapsTransfers)
{
    Drive plain({{"vendor", "ACME"}}, folder.Path());
    EXPECT_TRUE(HasSense(plain.Send({0x12, 1, 0xB0, 0, 64, 0}, 64), 5, 0x24, 0));

    Drive limited({{"vendor", "ACME"}, {"blockSize", 4096}, {"maxTransferBlocks", 64}}, folder.Path() / "limited");
    auto pages = limited.Send({0x12, 1, 0x00, 0, 0xFF, 0}, 255);
    EXPECT_EQ(std::vector<std::uint8_t>(pages.data.begin() + 4, pages.data.begin() + 8),
              (std::vector<std::uint8_t>{0x00, 0x80, 0x83, 0xB0}));
    auto page = limited.Send({0x12, 1, 0xB0, 0, 64, 0}, 64);
    ASSERT_EQ(page.result.status, 0);
    EXPECT_EQ(page.data[1], 0xB0);
    EXPECT_EQ(page.data[3], 60);
    EXPECT_EQ(std::vector<std::uint8_t>(page.data.begin() + 8, page.data.begin() + 12),
              (std::vector<std::uint8_t>{0, 0, 0, 64}));
    EXPECT_EQ(limited.Send(Cdb10(0x28, 0, 64), 64 * 4096).result.status, 0);
    EXPECT_TRUE(HasSense(limited.Send(Cdb10(0x28, 0, 65), 65 * 4096), 5, 0x24, 0));
}

TEST_F(TodaysDiskTest, SerialCanLiveInThePageAlone)
{
    Drive drive({{"vendor", "ACME"}, {"serial", "ZX81B3C4"}, {"serialInInquiry", false}}, folder.Path());
    auto standard = drive.Send({0x12, 0, 0, 0, 0xFF, 0}, 255);
    EXPECT_EQ(std::string(standard.data.begin() + 36, standard.data.begin() + 44), "        ");
    auto page = drive.Send({0x12, 1, 0x80, 0, 0xFF, 0}, 255);
    EXPECT_EQ(std::string(page.data.begin() + 4, page.data.begin() + 12), "ZX81B3C4");
}

TEST_F(TodaysDiskTest, SeekCanFailAloneAsOnARaidVolume)
{
    Drive drive({{"vendor", "ACME"}, {"faults", {{"seekFails", true}}}}, folder.Path());
    EXPECT_TRUE(HasSense(drive.Send(Cdb10(0x2B, 5, 0)), 4, 0x44, 0));
    EXPECT_TRUE(HasSense(drive.Send({0x0B, 0, 0, 5, 0, 0}), 4, 0x44, 0));
    EXPECT_EQ(drive.Send(Cdb10(0x28, 5, 1), 512).result.status, 0);
}

}  // namespace
}  // namespace harrow::machine::testing
