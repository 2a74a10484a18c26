// A test of the whole drive reaches its last block, and a range asked for,
// by blocks or by share, is never left at either end.
#include "EngineFixture.h"

#include "core/system/CComputerSystem.h"
#include "core/tests/CDiskSeekTest.h"
#include "core/tests/DiskRanTests.h"
#include "core/tests/DiskSeqTests.h"

#include <map>

namespace engine_test {
namespace {

using Transfers = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

constexpr std::uint8_t kWriteVerify10 = 0x2E;
constexpr std::uint32_t kBlocks = 1000;
constexpr std::uint32_t kLast = kBlocks - 1;

class WholeDriveTest : public EngineFixture {
protected:
    static Error_t AskShare(CTestBase& test, int percentage, long opCount, long blocksPerXfer)
    {
        const Error_t marked = test.StartTest(0UL, CTestBase::kEndFromPercentage, opCount, blocksPerXfer, 0);
        return marked != ERR_NONE ? marked : test.StartTest(percentage, opCount, blocksPerXfer, 0);
    }
};

TEST_F(WholeDriveTest, AMediumErrorInTheLastBlockFailsTheWholeDriveRead)
{
    StartMachine(R"([{"target": 0, "blocks": 1000, "faults": {"mediumErrors": [999]}}])");
    auto one = Addresses({0});
    CDiskSeqReadTest byShare(&one, 1, 0, 1, 0);
    ASSERT_EQ(AskShare(byShare, 100, 0, 64), ERR_NONE);
    const Outcome shared = RunToEnd(byShare);
    ASSERT_EQ(shared.texts.size(), 1u);
    EXPECT_NE(shared.texts[0].find("Sense Key = 03  Additional Sense Code = 11"), std::string::npos) << shared.texts[0];
    EXPECT_EQ(Disk(0)->GetTestState(), CTestBase::kTestStateFailed);
    EXPECT_EQ(Seen(0).Transfers(kRead10).back(), (std::pair<std::uint32_t, std::uint32_t>{960, 40}));

    // An end past the drive is cut at the drive's end, not before its last block.
    ClearSeen();
    CDiskVerifyTest byRange(&one, 1, 0, 1, 0);
    ASSERT_EQ(byRange.StartTest(900, 5000, 0, 64, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(byRange).texts.size(), 1u);
    EXPECT_EQ(Disk(0)->GetTestState(), CTestBase::kTestStateFailed);
}

TEST_F(WholeDriveTest, SequentialWritesCoverTheRangeAskedForAndNothingElse)
{
    StartMachine(R"([{"target": 0, "blocks": 1000}])");
    auto one = Addresses({0});
    CDiskSeqWriteTest whole(&one, 1, 0, 1, 0);
    ASSERT_EQ(AskShare(whole, 100, 0, 64), ERR_NONE);
    EXPECT_EQ(RunToEnd(whole).texts, kNoEvents);
    EXPECT_EQ(Coverage(0, kWrite10), Once(0, kBlocks));
    EXPECT_EQ(whole.GetProgress(), static_cast<long>(kBlocks));

    // A share counts the drive's blocks: 25 % of 1000 is blocks 0 to 249.
    ClearSeen();
    CDiskSeqWriteTest quarter(&one, 1, 0, 1, 0);
    ASSERT_EQ(AskShare(quarter, 25, 0, 64), ERR_NONE);
    EXPECT_EQ(RunToEnd(quarter).texts, kNoEvents);
    EXPECT_EQ(Coverage(0, kWrite10), Once(0, 250));

    ClearSeen();
    CDiskSeqWriteTest range(&one, 1, 0, 1, 0);
    ASSERT_EQ(range.StartTest(300, 301, 0, 64, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(range).texts, kNoEvents);
    EXPECT_EQ(Coverage(0, kWrite10), Once(300, 301));

    // Two threads share the whole drive: the upper one ends at the last block.
    ClearSeen();
    CDiskSeqWriteTest split(&one, 1, 0, 2, 0);
    ASSERT_EQ(split.StartTest(0, kBlocks, 0, 64, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(split).texts, kNoEvents);
    EXPECT_EQ(Coverage(0, kWrite10), Once(0, kBlocks));
}

TEST_F(WholeDriveTest, RandomWritesStayInsideTheirRangeAndReachTheDrivesEnd)
{
    StartMachine(R"([{"target": 0, "blocks": 1000}])");
    CComputerSystem::Instance()->SetRandSeed(3);
    auto one = Addresses({0});
    CDiskRanWriteTest tail(&one, 1, 0, 1, 0);
    ASSERT_EQ(tail.StartTest(990, 5000, 400, 2, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(tail).texts, kNoEvents);
    const std::map<std::uint32_t, int> tailSeen = Coverage(0, kWrite10);
    ASSERT_FALSE(tailSeen.empty());
    EXPECT_EQ(tailSeen.begin()->first, 990u);
    // 400 draws over offsets 0 to 8 of pairs: the last pair is hit, and nothing past it.
    EXPECT_EQ(tailSeen.rbegin()->first, kLast);

    ClearSeen();
    CDiskRanWriteVerifyTest share(&one, 1, 0, 1, 0);
    ASSERT_EQ(AskShare(share, 10, 300, 8), ERR_NONE);
    EXPECT_EQ(RunToEnd(share).texts, kNoEvents);
    for (const auto& [lba, blocks] : Seen(0).Transfers(kWriteVerify10)) {
        EXPECT_LE(lba + blocks, 100u) << "write and verify at " << lba;
    }
    EXPECT_EQ(Seen(0).Count(kWriteVerify10), 300u);
}

TEST_F(WholeDriveTest, SeeksOfTheWholeDriveGoToItsLastBlockAndNoFurther)
{
    StartMachine(R"([{"target": 0, "blocks": 1000}])");
    auto one = Addresses({0});
    CDiskSeekTest stroke(&one, 1, FullStrokeSeek, 0, 1, 0);
    ASSERT_EQ(AskShare(stroke, 100, 2, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(stroke).texts, kNoEvents);
    EXPECT_EQ(Seen(0).Transfers(kSeek10), (Transfers{{0, 0}, {kLast, 0}, {0, 0}, {kLast, 0}}));

    ClearSeen();
    CDiskSeekTest past(&one, 1, FullStrokeSeek, 0, 1, 0);
    ASSERT_EQ(past.StartTest(10, 5000, 2, 0, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(past).texts, kNoEvents);
    EXPECT_EQ(Seen(0).Transfers(kSeek10), (Transfers{{10, 0}, {kLast, 0}, {10, 0}, {kLast, 0}}));
}

}  // namespace
}  // namespace engine_test
