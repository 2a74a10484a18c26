// The blocks of one command are cut to what the drive's Block Limits page and
// its port's largest transfer allow, and the range is still covered whole.
#include "EngineFixture.h"

#include "core/log/CLogFile.h"
#include "core/system/CComputerSystem.h"
#include "core/tests/DiskRanTests.h"
#include "core/tests/DiskSeqTests.h"

#include <fstream>
#include <map>
#include <sstream>

namespace engine_test {
namespace {

constexpr std::uint32_t kAsked = 128;
constexpr std::uint8_t kVerify10 = 0x2F;

class TransferLimitTest : public EngineFixture {
protected:
    // What the log holds once it is closed.
    static std::string LogText(const std::filesystem::path& file)
    {
        CLogFile::Destroy();
        std::ifstream in(file);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

TEST_F(TransferLimitTest, TheDrivesBlockLimitsPageCutsEveryCommand)
{
    StartMachine(R"([{"target": 0, "blocks": 1000, "maxTransferBlocks": 48}])");
    const std::filesystem::path log = m_Dir / "engine.log";
    ASSERT_EQ(CLogFile::Init(log.string()), ERR_NONE);
    auto one = Addresses({0});
    CDiskSeqReadTest read(&one, 1, 0, 1, 0);
    ASSERT_EQ(read.StartTest(0, 1000, 0, kAsked, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(read).texts, kNoEvents);
    EXPECT_EQ(Coverage(0, kRead10, 48), Once(0, 1000));
    // 20 of 48 and the last 40: 1000 = 20 x 48 + 40.
    EXPECT_EQ(Seen(0).Count(kRead10), 21u);
    EXPECT_EQ(Seen(0).Transfers(kRead10).back(), (std::pair<std::uint32_t, std::uint32_t>{960, 40}));
    EXPECT_EQ(Disk(0)->GetTestState(), CTestBase::kTestStatePassed);
    EXPECT_NE(LogText(log).find("TRANSFER SIZE: Device 0:0:0 takes at most 48 blocks a command: 128 asked, 48 sent"),
              std::string::npos);
}

TEST_F(TransferLimitTest, ThePortsLargestTransferCutsEveryCommand)
{
    // 8 KiB: 16 blocks of 512 bytes; the drive itself sets no limit.
    StartMachine(R"([{"target": 0, "blocks": 1000}])", R"("maxTransferBytes": 8192, )");
    EXPECT_EQ(Disk(0)->GetMaxTransferBytes(), 8192u);
    auto one = Addresses({0});
    CDiskSeqWriteTest write(&one, 1, 0, 1, 0);
    ASSERT_EQ(write.StartTest(0, 1000, 0, kAsked, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(write).texts, kNoEvents);
    EXPECT_EQ(Coverage(0, kWrite10, 16), Once(0, 1000));
    EXPECT_EQ(Seen(0).Count(kWrite10), 63u);  // 62 of 16 and the last 8

    // A random test keeps its draws inside the range with the shorter commands.
    ClearSeen();
    CComputerSystem::Instance()->SetRandSeed(9);
    CDiskRanReadTest random(&one, 1, 0, 1, 0);
    ASSERT_EQ(random.StartTest(800, 1000, 50, kAsked, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(random).texts, kNoEvents);
    ASSERT_EQ(Seen(0).Count(kRead10), 50u);
    for (const auto& [lba, blocks] : Seen(0).Transfers(kRead10)) {
        EXPECT_EQ(blocks, 16u);
        EXPECT_GE(lba, 800u);
        EXPECT_LE(lba + blocks, 1000u);
    }
}

TEST_F(TransferLimitTest, TheAspiLayerTellsThePortsLimitToo)
{
    m_Transport = DRV_ASPI;
    StartMachine(R"([{"target": 0, "blocks": 300}])", R"("maxTransferBytes": 4096, )");
    EXPECT_EQ(Disk(0)->GetMaxTransferBytes(), 4096u);
    auto one = Addresses({0});
    CDiskSeqReadTest read(&one, 1, 0, 1, 0);
    ASSERT_EQ(read.StartTest(0, 300, 0, kAsked, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(read).texts, kNoEvents);
    EXPECT_EQ(Coverage(0, kRead10, 8), Once(0, 300));
}

TEST_F(TransferLimitTest, FourKibibyteBlocksTakeTheSmallerOfBothLimits)
{
    // 64 KiB carries 16 blocks of 4096 bytes; the page allows 24; a drive of 512-byte blocks
    // on the same port carries all 128 asked.
    StartMachine(R"([{"target": 0, "blocks": 500, "blockSize": 4096, "maxTransferBlocks": 24},
                     {"target": 1, "blocks": 500}])",
                 R"("maxTransferBytes": 65536, )");
    auto both = Addresses({0, 1});
    CDiskSeqWriteReadTest test(&both, 2, 0, 1, 0);
    ASSERT_EQ(test.StartTest(0, 500, 0, kAsked, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(test).texts, kNoEvents);
    EXPECT_EQ(Coverage(0, kWrite10, 16), Once(0, 500));
    EXPECT_EQ(Coverage(0, kRead10, 16), Once(0, 500));
    EXPECT_EQ(Coverage(1, kRead10, kAsked), Once(0, 500));
    EXPECT_EQ(Seen(1).Transfers(kRead10).front(), (std::pair<std::uint32_t, std::uint32_t>{0, kAsked}));
}

TEST_F(TransferLimitTest, CommandsWithinTheLimitsAreLeftAsAsked)
{
    StartMachine(R"([{"target": 0, "blocks": 1000, "maxTransferBlocks": 64}])");
    EXPECT_EQ(Disk(0)->GetMaxTransferBytes(), 16u * 1024 * 1024);  // a simulated port's own limit
    const std::filesystem::path log = m_Dir / "engine.log";
    ASSERT_EQ(CLogFile::Init(log.string()), ERR_NONE);
    auto one = Addresses({0});
    CDiskVerifyTest exact(&one, 1, 0, 1, 0);
    ASSERT_EQ(exact.StartTest(0, 256, 0, 64, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(exact).texts, kNoEvents);
    EXPECT_EQ(Seen(0).Count(kVerify10), 4u);
    EXPECT_EQ(LogText(log).find("TRANSFER SIZE"), std::string::npos);
}

}  // namespace
}  // namespace engine_test
