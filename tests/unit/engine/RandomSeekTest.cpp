// The random tests' block choice and modes, and the seek patterns.
#include "EngineFixture.h"

#include "core/system/CComputerSystem.h"
#include "core/tests/CBufferPatternSystem.h"
#include "core/tests/CDiskSeekTest.h"
#include "core/tests/DiskRanTests.h"

#include <algorithm>

namespace engine_test {
namespace {

std::vector<std::uint32_t> Lbas(Recorder& recorder, std::uint8_t opcode)
{
    std::vector<std::uint32_t> lbas;
    for (const auto& [lba, blocks] : recorder.Transfers(opcode)) {
        lbas.push_back(lba);
    }
    return lbas;
}

class RandomSeekTest : public EngineFixture {};

TEST_F(RandomSeekTest, RandomBlocksFollowTheScaleAndRepeatForAFixedSeed)
{
    StartMachine(R"([{"target": 0, "blocks": 70000}])");
    CComputerSystem::Instance()->SetRandSeed(1234);
    auto one = Addresses({0});
    // A span of 0x10000 scales up by 2: only even offsets are reachable.
    CDiskRanReadTest wide(&one, 1, 0, 1, 0);
    ASSERT_EQ(wide.StartTest(0, 0x10000, 40, 1, 0), ERR_NONE);
    RunToEnd(wide);
    const auto first = Lbas(Seen(0), kRead10);
    ASSERT_EQ(first.size(), 40u);
    EXPECT_EQ(first[0], 0u);
    for (std::uint32_t lba : first) {
        EXPECT_EQ(lba % 2, 0u);
        EXPECT_LE(lba, 0x10000u - 1);
    }
    ClearSeen();
    CDiskRanReadTest again(&one, 1, 0, 1, 0);
    ASSERT_EQ(again.StartTest(0, 0x10000, 40, 1, 0), ERR_NONE);
    RunToEnd(again);
    EXPECT_EQ(Lbas(Seen(0), kRead10), first);

    // 0 to 100 with 10 blocks: picks above 90 are drawn again.
    ClearSeen();
    CDiskRanReadTest narrow(&one, 1, 0, 1, 0);
    ASSERT_EQ(narrow.StartTest(0, 100, 200, 10, 0), ERR_NONE);
    RunToEnd(narrow);
    const auto picks = Lbas(Seen(0), kRead10);
    ASSERT_EQ(picks.size(), 200u);
    EXPECT_LE(*std::max_element(picks.begin(), picks.end()), 90u);
    long low = -1;
    long high = -1;
    narrow.GetProgressRange(low, high);
    EXPECT_EQ(high, 200);
    EXPECT_EQ(narrow.GetProgress(), 200);
}

TEST_F(RandomSeekTest, CountedWriteReadReadsTheBlocksItWroteInOrder)
{
    StartMachine(R"([{"target": 0, "blocks": 5000}])");
    CComputerSystem::Instance()->SetRandSeed(77);
    CBufferPatternSystem::Instance()->SetPattern(1, PatternBlockNumbers, nullptr, 0);
    CBufferPatternSystem::SetDataCompare(true);
    auto one = Addresses({0});
    CDiskRanWriteReadTest test(&one, 1, 1, 1, 0);
    ASSERT_EQ(test.StartTest(100, 5000, 10, 8, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(test).texts, kNoEvents);
    const auto writes = Lbas(Seen(0), kWrite10);
    ASSERT_EQ(writes.size(), 5u);
    EXPECT_EQ(writes[0], 100u);
    EXPECT_EQ(Lbas(Seen(0), kRead10), writes);
    long low = -1;
    long high = -1;
    test.GetProgressRange(low, high);
    EXPECT_EQ(high, 9);
}

// Threads drawing from one shared sequence took each other's values, so a read
// pass missed the blocks its own write pass wrote and a good drive failed.
TEST_F(RandomSeekTest, WriteReadOfSeveralThreadsAndDevicesComparesClean)
{
    StartMachine(R"([{"target": 0, "blocks": 4000}, {"target": 1, "blocks": 4000}])");
    CComputerSystem::Instance()->SetRandSeed(0);
    CBufferPatternSystem::Instance()->SetPattern(1, PatternBlockNumbers, nullptr, 0);
    CBufferPatternSystem::SetDataCompare(true);
    auto two = Addresses({0, 1});
    CDiskRanWriteReadTest test(&two, 2, 1, 3, 0);
    ASSERT_EQ(test.StartTest(0, 4000, 40, 4, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(test).texts, kNoEvents);
    for (int target : {0, 1}) {
        auto writes = Lbas(Seen(target), kWrite10);
        auto reads = Lbas(Seen(target), kRead10);
        ASSERT_EQ(writes.size(), 3u * 20u);
        std::sort(writes.begin(), writes.end());
        std::sort(reads.begin(), reads.end());
        EXPECT_EQ(reads, writes);
    }
}

TEST_F(RandomSeekTest, TimedAndEndlessModes)
{
    StartMachine(R"([{"target": 0, "blocks": 5000, "durations": {"command": 0.1}}])");
    auto one = Addresses({0});
    // 2 s at HARROW_TIME_SCALE 0.01: about 20 ms, commands of 1 ms.
    CDiskRanWriteTest timed(&one, 1, 0, 1, 0);
    ASSERT_EQ(timed.StartTest(0, 5000, 0, 4, 2), ERR_NONE);
    const auto began = std::chrono::steady_clock::now();
    RunToEnd(timed);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
    EXPECT_GE(Seen(0).Count(kWrite10), 2u);
    EXPECT_GE(timed.GetProgress(), 2);

    CDiskRanWriteReadTest endless(&one, 1, 0, 1, 0);
    ASSERT_EQ(endless.StartTest(0, 5000, 1, 4, 0), ERR_NONE);
    ClearSeen();
    RunUntil(endless, [&] { return Seen(0).Count(kRead10) >= 6; });
    // Each block is written and at once read back.
    const auto all = Seen(0).Without(kInquiry);
    for (std::size_t i = 0; i + 1 < all.size() && i < 10; i += 2) {
        EXPECT_EQ(all[i].Opcode(), kWrite10);
        EXPECT_EQ(all[i + 1].Opcode(), kRead10);
        EXPECT_EQ(all[i].Lba(), all[i + 1].Lba());
    }
    long low = -1;
    long high = -1;
    endless.GetProgressRange(low, high);
    EXPECT_EQ(high, 100);
    EXPECT_EQ(endless.GetProgress(), 50);
}

TEST_F(RandomSeekTest, ButterflyAndFullStrokeSequences)
{
    StartMachine(R"([{"target": 0, "blocks": 2000}])");
    auto one = Addresses({0});
    CDiskSeekTest butterfly(&one, 1, ButterflySeek, 0, 1, 0);
    ASSERT_EQ(butterfly.StartTest(0, 10, 1, 0, 0), ERR_NONE);
    RunToEnd(butterfly);
    const auto sweeps = Lbas(Seen(0), kSeek10);
    ASSERT_GE(sweeps.size(), 15u);
    EXPECT_EQ(std::vector<std::uint32_t>(sweeps.begin(), sweeps.begin() + 15),
              (std::vector<std::uint32_t>{0, 0, 10, 1, 9, 2, 8, 3, 7, 4, 6, 5, 5, 6, 4}));
    long low = -1;
    long high = -1;
    butterfly.GetProgressRange(low, high);
    EXPECT_EQ(high, 40);

    ClearSeen();
    CDiskSeekTest stroke(&one, 1, FullStrokeSeek, 0, 1, 0);
    ASSERT_EQ(stroke.StartTest(0, 1000, 3, 0, 0), ERR_NONE);
    RunToEnd(stroke);
    EXPECT_EQ(Lbas(Seen(0), kSeek10), (std::vector<std::uint32_t>{0, 1000, 0, 1000, 0, 1000}));
    EXPECT_EQ(stroke.GetProgress(), 2);  // updated before the last seek is counted
}

}  // namespace
}  // namespace engine_test

namespace engine_test {
namespace {

TEST_F(RandomSeekTest, RangesThatHoldNoTransferAreRefused)
{
    StartMachine(R"([{"target": 0, "blocks": 1000}])");
    auto one = Addresses({0});
    CDiskRanReadTest read(&one, 1, 0, 1, 0);
    EXPECT_EQ(read.StartTest(0, 10, 5, 16, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(read.StartTest(0, 100, 5, 0, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(read.StartTest(50, 100, 5, -1, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(read.StartTest(50, 50, 5, 1, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(read.StartTest(50, 10, 5, 1, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(read.StartTest(25, 5, 0, 0), ERR_INVALID_PARAM);
    // Exactly one transfer fits.
    EXPECT_EQ(read.StartTest(0, 16, 5, 16, 0), ERR_NONE);
    EXPECT_EQ(read.StartTest(25, 5, 16, 0), ERR_NONE);

    // Two threads share the range: each must hold a transfer.
    CDiskRanWriteReadTest shared(&one, 1, 0, 2, 0);
    EXPECT_EQ(shared.StartTest(0, 20, 4, 16, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(shared.StartTest(0, 32, 4, 16, 0), ERR_NONE);

    // A seek moves no data but needs somewhere to go.
    CDiskSeekTest seek(&one, 1, RandomSeek, 0, 1, 0);
    EXPECT_EQ(seek.StartTest(5, 5, 4, 0, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(seek.StartTest(0, 1, 4, 0, 0), ERR_NONE);
    CDiskSeekTest butterfly(&one, 1, ButterflySeek, 0, 2, 0);
    EXPECT_EQ(butterfly.StartTest(0, 1, 4, 0, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(Seen(0).Count(kRead10) + Seen(0).Count(kSeek10), 0u);
}

}  // namespace
}  // namespace engine_test
