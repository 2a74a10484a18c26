// The test base: thread ranges, the monitor's handling of errors, alarms and
// cancellation, and the parameters StartTest takes.
#include "EngineFixture.h"

#include "core/system/CComputerSystem.h"
#include "core/tests/CAlarmEvent.h"
#include "core/tests/CBufferPatternSystem.h"
#include "core/tests/CDiskSeekTest.h"
#include "core/tests/DiskRanTests.h"
#include "core/tests/DiskSeqTests.h"

#include "core/buffers/AlignedBuffer.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace engine_test {
namespace {

using Transfers = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

Transfers Sorted(Transfers transfers)
{
    std::sort(transfers.begin(), transfers.end());
    return transfers;
}

class ThreadProtocolTest : public EngineFixture {};

TEST_F(ThreadProtocolTest, ThreadsSplitTheRangeAndDevicesKeepTheirOwnEnds)
{
    StartMachine(R"([{"target": 0, "blocks": 1101}, {"target": 1, "blocks": 801}])");
    // 1001 blocks over two threads: 0-500 and 500-1000; block 1000 is not tested.
    auto one = Addresses({0});
    CDiskSeqReadTest split(&one, 1, 0, 2, 0);
    ASSERT_EQ(split.StartTest(0, 1001, 0, 100, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(split).texts.size(), 0u);
    EXPECT_EQ(Sorted(Seen(0).Transfers(kRead10)),
              (Transfers{{0, 100}, {100, 100}, {200, 100}, {300, 100}, {400, 100},
                         {500, 100}, {600, 100}, {700, 100}, {800, 100}, {900, 100}}));
    EXPECT_EQ(Disk(0)->GetTestState(), 2u);

    // An explicit end of 900: the 801-block device is cut after its last block, the other keeps 900.
    ClearSeen();
    auto both = Addresses({0, 1});
    CDiskSeqReadTest sizes(&both, 2, 0, 1, 0);
    ASSERT_EQ(sizes.StartTest(0, 900, 0, 100, 0), ERR_NONE);
    RunToEnd(sizes);
    EXPECT_EQ(Seen(0).Count(kRead10), 9u);
    EXPECT_EQ(Seen(1).Count(kRead10), 9u);
    EXPECT_EQ(Seen(1).Transfers(kRead10).back(), (std::pair<std::uint32_t, std::uint32_t>{800, 1}));

    // 50 per cent of a device of 1101 blocks: up to block 550.
    CDiskVerifyTest percent(&one, 1, 0, 1, 0);
    ASSERT_EQ(percent.StartTest(0, CTestBase::END_FROM_PERCENTAGE, 0, 50, 0), ERR_NONE);
    ASSERT_EQ(percent.StartTest(50, 0, 50, 0), ERR_NONE);
    RunToEnd(percent);
    long low = -1;
    long high = -1;
    percent.GetProgressRange(low, high);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 550);
}

TEST_F(ThreadProtocolTest, StartTestRefusesATimeLimitWithAnOperationCount)
{
    StartMachine(R"([{"target": 0, "blocks": 2000}])");
    auto one = Addresses({0});
    CDiskSeekTest seek(&one, 1, RandomSeek, 0, 1, 0);
    long low = 0;
    long high = 0;
    ASSERT_EQ(seek.StartTest(0, 1000, 1, 16, 60), ERR_NONE);
    seek.GetProgressRange(low, high);
    EXPECT_EQ(high, 60);
    EXPECT_EQ(seek.StartTest(0, 1000, 5, 16, 60), ERR_INVALID_PARAM);
    seek.GetProgressRange(low, high);
    EXPECT_EQ(high, 100);  // the time limit was dropped
    EXPECT_EQ(seek.StartTest(10, 5, 16, 60), ERR_INVALID_PARAM);
    EXPECT_EQ(seek.GetError(), nullptr);
}

TEST_F(ThreadProtocolTest, AMediumErrorEndsItsDeviceWhileTheOtherFinishes)
{
    StartMachine(R"([{"target": 0, "blocks": 200, "faults": {"mediumErrors": [50]}}, {"target": 1, "blocks": 200}])");
    CComputerSystem::Instance()->SetSysErrorAlarms({-1, 1});
    auto both = Addresses({0, 1});
    CDiskSeqReadTest test(&both, 2, 0, 1, 0);
    ASSERT_EQ(test.StartTest(0, 100, 0, 16, 0), ERR_NONE);
    const Outcome outcome = RunToEnd(test);
    EXPECT_EQ(outcome.result, ERR_NONE);
    ASSERT_EQ(outcome.codes.size(), 2u);
    EXPECT_NE(outcome.texts[0].find("Sense Key = 03  Additional Sense Code = 11"), std::string::npos);
    EXPECT_EQ(outcome.texts[1], "ALARM: Device 0:0:0 has too many hard errors");
    EXPECT_EQ(Seen(0).Transfers(kRead10).back(), (std::pair<std::uint32_t, std::uint32_t>{48, 16}));
    EXPECT_EQ(Seen(1).Count(kRead10), 7u);
    EXPECT_EQ(Disk(0)->GetTestState(), 4u);
    EXPECT_EQ(Disk(1)->GetTestState(), 2u);
    EXPECT_FALSE(test.IsRunning());
}

TEST_F(ThreadProtocolTest, ADataMismatchIsReportedWithItsBlockAndByte)
{
    StartMachine(R"([{"target": 0, "blocks": 200}])");
    CDisk* disk = Disk(0);
    AlignedBuffer block(512);
    std::memset(block.Ptr(), 0, 512);
    static_cast<unsigned char*>(block.Ptr())[5] = 0x5A;
    ASSERT_EQ(disk->Write(0, 37, 1, &block, 0, 0, 0), ERR_NONE);
    CBufferPatternSystem::Instance()->SetPattern(3, PatternZeros, nullptr, 0);
    CBufferPatternSystem::SetDataCompare(true);
    const long hardBefore = disk->GetErrorInfo()->GetHardErrors();

    auto one = Addresses({0});
    CDiskSeqReadTest test(&one, 1, 3, 1, 0);
    ASSERT_EQ(test.StartTest(0, 100, 0, 16, 0), ERR_NONE);
    const Outcome outcome = RunToEnd(test);
    ASSERT_EQ(outcome.texts.size(), 1u);
    EXPECT_EQ(outcome.texts[0], "DATA COMPARE ERROR: Device 0:0:0 at block 37, byte 5: Expected 0x00, Actual 0x5A");
    EXPECT_EQ(outcome.codes[0], ERR_TEST_4);
    EXPECT_EQ(disk->GetErrorInfo()->GetHardErrors(), hardBefore + 1);
    EXPECT_EQ(disk->GetTestState(), 4u);

    // Block numbers on a zeroed medium: block 0 matches, block 1 differs in its lowest byte.
    CBufferPatternSystem::Instance()->SetPattern(4, PatternBlockNumbers, nullptr, 0);
    CDiskSeqReadTest numbers(&one, 1, 4, 1, 0);
    ASSERT_EQ(numbers.StartTest(0, 16, 0, 16, 0), ERR_NONE);
    const Outcome numbered = RunToEnd(numbers);
    ASSERT_EQ(numbered.texts.size(), 1u);
    EXPECT_EQ(numbered.texts[0], "DATA COMPARE ERROR: Device 0:0:0 at block 1, byte 3: Expected 0x01, Actual 0x00");
}

TEST_F(ThreadProtocolTest, ARateAlarmEndsTheDeviceWithItsText)
{
    StartMachine(R"([{"target": 3, "blocks": 40000}])");
    // No simulated drive writes a billion KB a second.
    CComputerSystem::Instance()->SetSysPerfAlarms({PerfAlarmOff, 0.0F, PerfAlarmAverage, 1.0e9F});
    auto one = Addresses({3});
    CDiskSeqWriteTest test(&one, 1, 0, 1, 0);
    ASSERT_EQ(test.StartTest(0, 40000, 0, 1, 0), ERR_NONE);
    const Outcome outcome = RunToEnd(test);
    ASSERT_FALSE(outcome.texts.empty());
    EXPECT_EQ(outcome.texts[0], "ALARM: Device 0:3:0 fell below the minimum write performance");
    EXPECT_EQ(outcome.codes[0], ERR_TEST_1C);
    EXPECT_EQ(Disk(3)->GetTestState(), 4u);
    EXPECT_LT(Seen(3).Count(kWrite10), 40000u);
}

TEST_F(ThreadProtocolTest, CancelEndsEveryDeviceAndEmptiesTheQueue)
{
    StartMachine(R"([{"target": 0, "blocks": 5000}, {"target": 1, "blocks": 5000}])");
    auto both = Addresses({0, 1});
    CDiskRanReadTest test(&both, 2, 0, 2, 0);
    ASSERT_EQ(test.StartTest(0, 5000, 1, 8, 0), ERR_NONE);  // runs until cancelled
    const Outcome outcome = RunUntil(test, [&] { return Seen(0).Count(kRead10) > 20 && Seen(1).Count(kRead10) > 20; });
    EXPECT_EQ(outcome.result, ERR_NONE);
    EXPECT_EQ(outcome.texts, kNoEvents);
    EXPECT_EQ(test.GetError(), nullptr);
    EXPECT_EQ(test.GetProgress(), 50);
    EXPECT_EQ(Disk(0)->GetTestState(), 3u);
    EXPECT_EQ(Disk(1)->GetTestState(), 3u);
    EXPECT_FALSE(CComputerSystem::Instance()->IsTestActive());
}

TEST_F(ThreadProtocolTest, UnknownAddressesAndNonDisksAreRefused)
{
    StartMachine(R"([{"target": 0, "blocks": 200}, {"target": 2, "type": "tape"}])");
    auto missing = Addresses({0, 9});
    CDiskSeqReadTest absent(&missing, 2, 0, 1, 0);
    ASSERT_EQ(absent.StartTest(0, 100, 0, 16, 0), ERR_NONE);
    EXPECT_EQ(absent.RunTest(), ERR_NO_DEVICE);

    auto tape = Addresses({2});
    CDiskSeqReadTest notDisk(&tape, 1, 0, 1, 0);
    ASSERT_EQ(notDisk.StartTest(0, 100, 0, 16, 0), ERR_NONE);
    EXPECT_EQ(notDisk.RunTest(), ERR_INVALID_PARAM);
    EXPECT_EQ(Seen(0).Count(kRead10), 0u);
    EXPECT_FALSE(CComputerSystem::Instance()->IsTestActive());
}

}  // namespace
}  // namespace engine_test
