// Drives of today: 20 TB of 512-byte blocks, past 32-bit LBAs, and 16 TB of
// 4096-byte blocks, which still fit them. Their last 1 % is all the tests
// touch; the simulated drives keep only what is written, so nothing is large.
#include "EngineFixture.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/system/CComputerSystem.h"
#include "core/tests/CBufferPatternSystem.h"
#include "core/tests/CDataCompareEvent.h"
#include "core/tests/CDiskSeekTest.h"
#include "core/tests/DiskRanTests.h"
#include "core/tests/DiskSeqTests.h"
#include "core/transport/CScsiIoCtl.h"

#include <algorithm>
#include <cstring>

namespace engine_test {
namespace {

constexpr std::uint8_t kRead16 = 0x88;
constexpr std::uint8_t kWrite16 = 0x8A;
constexpr std::uint8_t kVerify16 = 0x8F;
constexpr std::uint64_t k2To32 = 0x100000000ULL;
constexpr std::uint64_t kBlocks20TB = 20'000'000'000'000ULL / 512;
constexpr std::uint64_t kBlocks16TB = 16'000'000'000'000ULL / 4096;
constexpr std::uint64_t kLast20TB = kBlocks20TB - 1;
constexpr std::uint64_t kLast16TB = kBlocks16TB - 1;

using Transfers16 = std::vector<std::pair<std::uint64_t, std::uint32_t>>;
using Transfers10 = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

class LargeDriveTest : public EngineFixture {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        StartMachine(R"([{"target": 0, "vendor": "ACME", "blocks": 39062500000, "dst": false},
                         {"target": 1, "vendor": "ACME", "blocks": 3906250000, "blockSize": 4096, "dst": false}])");
    }

    // The start of the last 1 % of a drive.
    static std::uint64_t LastPercent(std::uint64_t last) { return last - last / 100; }
};

TEST_F(LargeDriveTest, CapacityAndCountersHoldEveryBit)
{
    EXPECT_EQ(Disk(0)->GetHighBlock(), kLast20TB);
    EXPECT_EQ(Disk(0)->GetBlockLength(), 512u);
    EXPECT_EQ(Disk(1)->GetHighBlock(), kLast16TB);
    EXPECT_EQ(Disk(1)->GetBlockLength(), 4096u);

    AlignedBuffer block(512);
    ASSERT_EQ(Disk(0)->Read(0, k2To32 + 5, 1, &block, 0, 0, 0), ERR_NONE);
    PerfData_t perf{};
    Disk(0)->GetCtlBlock(0)->GetPerfCounters(&perf);
    EXPECT_EQ(perf.LastReadLba, k2To32 + 5);
    EXPECT_EQ(Seen(0).Transfers16(kRead16), (Transfers16{{k2To32 + 5, 1}}));
    EXPECT_EQ(Seen(0).Count(kRead10), 0u);
}

TEST_F(LargeDriveTest, SequentialReadsCrossThe32BitBoundaryWith16ByteCommands)
{
    auto one = Addresses({0});
    CDiskSeqReadTest boundary(&one, 1, 0, 1, 0);
    ASSERT_EQ(boundary.StartTest(k2To32 - 3, k2To32 + 3, 0, 2, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(boundary).texts, kNoEvents);
    // 2^32-1 and 2^32 in one command: a 10-byte CDB would have wrapped to LBA 0.
    EXPECT_EQ(Seen(0).Transfers16(kRead16), (Transfers16{{k2To32 - 3, 2}, {k2To32 - 1, 2}, {k2To32 + 1, 2}}));
    EXPECT_EQ(Seen(0).Count(kRead10), 0u);
    EXPECT_EQ(boundary.GetProgress(), static_cast<long>(k2To32 + 3));

    // The tail of the last 1 %, up to the drive's end.
    ClearSeen();
    CDiskSeqReadTest tail(&one, 1, 0, 1, 0);
    ASSERT_EQ(tail.StartTest(kLast20TB - 8, kLast20TB, 0, 4, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(tail).texts, kNoEvents);
    EXPECT_EQ(Seen(0).Transfers16(kRead16), (Transfers16{{kLast20TB - 8, 4}, {kLast20TB - 4, 4}}));

    // An end past the drive stops after its last block, which is read too.
    ClearSeen();
    CDiskSeqReadTest last(&one, 1, 0, 1, 0);
    ASSERT_EQ(last.StartTest(kLast20TB - 8, kBlocks20TB + 100, 0, 4, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(last).texts, kNoEvents);
    EXPECT_EQ(Seen(0).Transfers16(kRead16),
              (Transfers16{{kLast20TB - 8, 4}, {kLast20TB - 4, 4}, {kLast20TB, 1}}));
}

TEST_F(LargeDriveTest, RandomReadsOverTheLastPercentStayInIt)
{
    CComputerSystem::Instance()->SetRandSeed(77);
    auto one = Addresses({0});
    CDiskRanReadTest test(&one, 1, 0, 1, 0);
    const std::uint64_t start = LastPercent(kLast20TB);
    ASSERT_EQ(test.StartTest(start, kLast20TB, 200, 8, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(test).texts, kNoEvents);
    const Transfers16 reads = Seen(0).Transfers16(kRead16);
    ASSERT_EQ(reads.size(), 200u);
    EXPECT_EQ(reads.front().first, start);
    for (const auto& [lba, blocks] : reads) {
        EXPECT_GE(lba, start);
        EXPECT_LE(lba + blocks, kLast20TB);
        EXPECT_EQ(blocks, 8u);
    }
    // The span of 390 million blocks scales the draws up: they spread over it.
    const auto [lowest, highest] = std::minmax_element(reads.begin() + 1, reads.end());
    EXPECT_GT(highest->first - lowest->first, (kLast20TB - start) / 2);
    EXPECT_EQ(Seen(0).Count(kRead10), 0u);
}

TEST_F(LargeDriveTest, SeeksPast32BitsVerifyOneBlockAndSeeksBelowStaySeeks)
{
    auto one = Addresses({0});
    CDiskSeekTest stroke(&one, 1, FullStrokeSeek, 0, 1, 0);
    ASSERT_EQ(stroke.StartTest(k2To32 - 1, kLast20TB, 2, 0, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(stroke).texts, kNoEvents);
    // Start, end, start, end: SEEK(10) reaches 2^32-1, the last block needs VERIFY(16).
    EXPECT_EQ(Seen(0).Transfers(kSeek10), (Transfers10{{0xFFFFFFFF, 0}, {0xFFFFFFFF, 0}}));
    EXPECT_EQ(Seen(0).Transfers16(kVerify16), (Transfers16{{kLast20TB, 1}, {kLast20TB, 1}}));
}

TEST_F(LargeDriveTest, CompareErrorsPast32BitsNameTheirOwnBlock)
{
    CBufferPatternSystem::Instance()->SetPattern(4, PatternBlockNumbers, nullptr, 0);
    auto one = Addresses({0});
    CDiskSeqWriteTest write(&one, 1, 4, 1, 0);
    ASSERT_EQ(write.StartTest(k2To32 - 2, k2To32 + 2, 0, 2, 0), ERR_NONE);
    ASSERT_EQ(RunToEnd(write).texts, kNoEvents);
    // Block 2^32: its high half, its low half inverted, then the low half.
    AlignedBuffer block(512);
    ASSERT_EQ(Disk(0)->Read(0, k2To32, 1, &block, 0, 0, 0), ERR_NONE);
    EXPECT_EQ(std::vector<unsigned char>(static_cast<unsigned char*>(block.Ptr()),
                                         static_cast<unsigned char*>(block.Ptr()) + 12),
              (std::vector<unsigned char>{0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));

    CBufferPatternSystem::SetDataCompare(true);
    // Written afresh, one block spoilt, read back and compared.
    const auto readBack = [&](std::uint64_t spoilt) {
        CDiskSeqWriteTest again(&one, 1, 4, 1, 0);
        EXPECT_EQ(again.StartTest(k2To32 - 2, k2To32 + 2, 0, 2, 0), ERR_NONE);
        EXPECT_EQ(RunToEnd(again).texts, kNoEvents);
        std::memset(block.Ptr(), 0x5A, 512);
        EXPECT_EQ(Disk(0)->Write(0, spoilt, 1, &block, 0, 0, 0), ERR_NONE);
        CDiskSeqReadTest read(&one, 1, 4, 1, 0);
        EXPECT_EQ(read.StartTest(k2To32 - 2, k2To32 + 2, 0, 2, 0), ERR_NONE);
        return RunToEnd(read).texts;
    };
    EXPECT_EQ(readBack(k2To32 - 1),
              (std::vector<std::string>{
                  "DATA COMPARE ERROR: Device 0:0:0 at block 4294967295, byte 0: Expected 0xFF, Actual 0x5A"}));
    EXPECT_EQ(readBack(k2To32), (std::vector<std::string>{
                                    "DATA COMPARE ERROR: Device 0:0:0 at block 4294967296, byte 0: Expected 0x00, "
                                    "Actual 0x5A"}));
}

// A drive that drops the LBA's high bits stores block 2^32 + n at block n.
// Written high and read back low, the block-number test must fail.
TEST_F(LargeDriveTest, ADriveThatWrapsAt32BitsFailsTheBlockNumberCompare)
{
    CBufferPatternSystem::Instance()->SetPattern(4, PatternBlockNumbers, nullptr, 0);
    CBufferPatternSystem::SetDataCompare(true);
    auto one = Addresses({0});
    CDiskSeqWriteTest low(&one, 1, 4, 1, 0);
    ASSERT_EQ(low.StartTest(0, 2, 0, 2, 0), ERR_NONE);
    ASSERT_EQ(RunToEnd(low).texts, kNoEvents);
    CDiskSeqWriteTest high(&one, 1, 4, 1, 0);
    ASSERT_EQ(high.StartTest(k2To32, k2To32 + 2, 0, 2, 0), ERR_NONE);
    ASSERT_EQ(RunToEnd(high).texts, kNoEvents);
    AlignedBuffer wrapped(2 * 512);
    ASSERT_EQ(Disk(0)->Read(0, k2To32, 2, &wrapped, 0, 0, 0), ERR_NONE);
    ASSERT_EQ(Disk(0)->Write(0, 0, 2, &wrapped, 0, 0, 0), ERR_NONE);
    CDiskSeqReadTest read(&one, 1, 4, 1, 0);
    ASSERT_EQ(read.StartTest(0, 2, 0, 2, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(read).texts,
              (std::vector<std::string>{
                  "DATA COMPARE ERROR: Device 0:0:0 at block 0, byte 3: Expected 0x00, Actual 0x01"}));
}

TEST_F(LargeDriveTest, EndlessWriteReadReadsBackTheBlocksItWrotePast32Bits)
{
    CComputerSystem::Instance()->SetRandSeed(11);
    auto one = Addresses({0});
    CDiskRanWriteReadTest endless(&one, 1, 0, 1, 0);
    ASSERT_EQ(endless.StartTest(k2To32, k2To32 + 64, 1, 4, 0), ERR_NONE);
    RunUntil(endless, [&] { return Seen(0).Count(kRead16) >= 6; });
    const Transfers16 reads = Seen(0).Transfers16(kRead16);
    ASSERT_GE(reads.size(), 6u);
    const Transfers16 writes = Seen(0).Transfers16(kWrite16);
    for (std::size_t i = 0; i < reads.size() && i < writes.size(); ++i) {
        EXPECT_EQ(reads[i], writes[i]) << "read " << i;
        EXPECT_GE(reads[i].first, k2To32);
    }
}

TEST_F(LargeDriveTest, FourKibibyteDriveThatFits32BitsKeepsThe10ByteCommands)
{
    auto one = Addresses({1});
    CDiskSeqReadTest tail(&one, 1, 0, 1, 0);
    ASSERT_EQ(tail.StartTest(kLast16TB - 16, kLast16TB, 0, 8, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(tail).texts, kNoEvents);
    EXPECT_EQ(Seen(1).Transfers(kRead10), (Transfers10{{kLast16TB - 16, 8}, {kLast16TB - 8, 8}}));
    // Progress is the current block: past 2^31, it must not turn negative.
    EXPECT_EQ(tail.GetProgress(), static_cast<long>(kLast16TB));

    ClearSeen();
    CComputerSystem::Instance()->SetRandSeed(5);
    CDiskRanReadTest random(&one, 1, 0, 1, 0);
    const std::uint64_t start = LastPercent(kLast16TB);
    ASSERT_EQ(random.StartTest(start, kLast16TB, 100, 16, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(random).texts, kNoEvents);
    const Transfers10 reads = Seen(1).Transfers(kRead10);
    ASSERT_EQ(reads.size(), 100u);
    for (const auto& [lba, blocks] : reads) {
        EXPECT_GE(lba, start);
        EXPECT_LE(lba + blocks, kLast16TB);
    }
    EXPECT_EQ(Seen(1).Count(kRead16), 0u);
}

}  // namespace
}  // namespace engine_test
