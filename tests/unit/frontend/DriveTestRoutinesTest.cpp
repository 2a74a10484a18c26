// The drive-test routines against the simulated lab machine that
// DeviceLayerTest.cpp sets up for this program.
#include "frontend/HostTests.h"
#include "frontend/SelfTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>
#include <vector>

namespace {

DeviceRecord Drive(int target, float percent = 0.0F)
{
    DeviceRecord record;
    record.hostAdapter = 0;
    record.target = target;
    record.lun = 0;
    record.percent = percent;
    return record;
}

std::vector<std::uint32_t> Draws(std::uint32_t low, std::uint32_t high, int count)
{
    std::vector<std::uint32_t> draws;
    for (int i = 0; i < count; ++i) {
        draws.push_back(RandomLba(low, high));
    }
    return draws;
}

}  // namespace

TEST(RandomLba, SameSequenceInEveryThreadAndAlwaysInRange)
{
    std::vector<std::uint32_t> first;
    std::vector<std::uint32_t> second;
    std::thread one([&] { first = Draws(0, 4095, 200); });
    std::thread two([&] { second = Draws(0, 4095, 200); });
    one.join();
    two.join();
    EXPECT_EQ(first, second);
    EXPECT_GT(std::set<std::uint32_t>(first.begin(), first.end()).size(), 150u);
    for (const std::uint32_t lba : first) {
        EXPECT_LE(lba, 4095u);
    }
    std::thread narrow([] {
        EXPECT_EQ(RandomLba(0, 0), 0u);
        EXPECT_EQ(RandomLba(7, 7), 7u);
        for (const std::uint32_t lba : Draws(100000000, 100000100, 3)) {
            EXPECT_GE(lba, 100000000u);
            EXPECT_LE(lba, 100000100u);
        }
        // Unreachable for products of two draws: the bound itself, not a hang.
        EXPECT_EQ(RandomLba(0xFFFFFFF0u, 0xFFFFFFFFu), 0xFFFFFFF0u);
        EXPECT_EQ(RandomLba(9, 3), 9u);
    });
    narrow.join();
}

TEST(RandomLba, WideDrawsCoverDrivesPast32BitsAndStayInRange)
{
    std::thread wide([] {
        constexpr std::uint64_t kLast20TB = 39062499999ULL;
        std::uint64_t above = 0;
        std::uint64_t below = 0;
        std::uint64_t highest = 0;
        for (int i = 0; i < 2000; ++i) {
            const std::uint64_t lba = RandomLba64(0, kLast20TB);
            ASSERT_LE(lba, kLast20TB);
            (lba > 0xFFFFFFFFULL ? above : below) += 1;
            highest = std::max(highest, lba);
        }
        // Two 15-bit draws stop at 2^30: these must reach the end of the drive as well.
        EXPECT_GT(above, 1500u);
        EXPECT_GT(below, 50u);
        EXPECT_GT(highest, kLast20TB / 100 * 99);
        EXPECT_EQ(RandomLba64(5, 5), 5u);
        EXPECT_EQ(RandomLba64(9, 3), 9u);
        const std::uint64_t edge = RandomLba64(0xFFFFFFFFULL, 0x100000000ULL);
        EXPECT_TRUE(edge == 0xFFFFFFFFULL || edge == 0x100000000ULL) << edge;
    });
    wide.join();
}

TEST(HostTests, StopPassesAndAbortEndsWithoutTouchingTheStatus)
{
    DeviceRecord stopped = Drive(2, 100);
    stopped.stopRequest = 1;
    EXPECT_EQ(GenericShortTest(stopped), HOST_TEST_PASSED);
    EXPECT_EQ(stopped.statusText, "Generic Short Test Passed");
    EXPECT_EQ(stopped.state, TEST_PASSED);

    DeviceRecord aborted = Drive(1, 100);
    aborted.isKestrel = 1;
    aborted.abortRequest = 1;
    EXPECT_EQ(GenericShortTest(aborted), HOST_TEST_ABORTED);
    EXPECT_EQ(aborted.statusText, "Performing Sequential Read (start of disk)");
    EXPECT_EQ(aborted.state, TEST_RUNNING);
    EXPECT_EQ(aborted.lastResult, HOST_TEST_ABORTED);
    EXPECT_EQ(aborted.testRunning, 0);

    // The long test checks after each chunk but the last.
    DeviceRecord longAborted = Drive(1, 100);
    longAborted.abortRequest = 1;
    EXPECT_EQ(GenericLongTest(longAborted), HOST_TEST_ABORTED);
    EXPECT_EQ(longAborted.statusText, "Performing Sequential Verify Commands");
    EXPECT_EQ(longAborted.percent, 0.0F);
}

TEST(HostTests, FailuresKeepTheCommandsStatusAndSense)
{
    // No unit answers at 0:9:0: READ CAPACITY fails without sense data.
    DeviceRecord absent = Drive(9);
    absent.isKestrel = 1;
    EXPECT_EQ(GenericLongTest(absent), HOST_TEST_NO_CAPACITY);
    EXPECT_EQ(absent.statusText, "Legacy Long Test Failed No Sense Data Available");
    EXPECT_EQ(absent.state, TEST_FAILED);
    EXPECT_EQ(absent.lastResult, HOST_TEST_NO_CAPACITY);

    // A tape knows no READ CAPACITY: ILLEGAL REQUEST, kept with its statuses.
    DeviceRecord tape = Drive(4);
    EXPECT_EQ(GenericShortTest(tape), HOST_TEST_NO_CAPACITY);
    EXPECT_EQ(tape.statusText, " Generic Short Test Failed 05 / 20 / 00");
    EXPECT_EQ(tape.targetStatus, 0x02);
    EXPECT_EQ(tape.sense[0] & 0x7F, 0x70);
    EXPECT_EQ(tape.sense[12], 0x20);
}

TEST(HostTests, LongTestOverASmallDrivePasses)
{
    DeviceRecord record = Drive(2);
    EXPECT_EQ(GenericLongTest(record), HOST_TEST_PASSED);
    EXPECT_EQ(record.statusText, " Generic Long Test Passed");
    EXPECT_EQ(record.state, TEST_PASSED);
    // 4096 blocks: the second and final chunk starts at 4095.
    EXPECT_FLOAT_EQ(record.percent, 4095.0F / 4095.0F * 100.0F);
}

TEST(SelfTest, ResultCodesSetStateAndText)
{
    struct Expected {
        int code;
        TestState state;
        const char* text;
    };
    const Expected table[] = {
        {0, TEST_PASSED, "Drive Self Test Completed Without Error"},
        {1, TEST_ABORTED, "Drive Self Test Aborted"},
        {2, TEST_FAILED,
         "Drive Self Test Aborted By Task Management Function, By A Reset, 0r By Issuing An Exception Command"},
        {3, TEST_FAILED,
         "Drive Self Test Unknown Error Occurred While The Device Server Was Exectuing The Test And The Device Server "
         "Was Unable To Complete The Test"},
        {4, TEST_FAILED,
         "Drive Self Test Completed With A Failure In A Test Segment, And The Test Segment That Failed Is Not Known"},
        {5, TEST_FAILED, "Drive Self Test First Segment Failed"},
        {6, TEST_FAILED, "Drive Self Test Second Segment Failed"},
        {8, TEST_ABORTED, "Drive Self Test Reserved"},
        {14, TEST_ABORTED, "Drive Self Test Reserved"},
    };
    for (const Expected& expected : table) {
        DeviceRecord record = Drive(0);
        record.testRunning = 1;
        ReportSelfTestResult(record, expected.code);
        EXPECT_EQ(record.state, expected.state) << expected.code;
        EXPECT_EQ(record.statusText, expected.text) << expected.code;
        EXPECT_EQ(record.changed, 1) << expected.code;
        EXPECT_EQ(record.testRunning, 0) << expected.code;
    }
    for (const int untouched : {9, 13}) {
        DeviceRecord record = Drive(0);
        record.statusText = "before";
        ReportSelfTestResult(record, untouched);
        EXPECT_EQ(record.statusText, "before");
        EXPECT_EQ(record.state, TEST_NONE);
    }
    DeviceRecord running = Drive(0);
    ReportSelfTestResult(running, 15);
    EXPECT_EQ(running.statusText, "Drive Self Test In Progress");
    EXPECT_EQ(running.state, TEST_RUNNING);
    EXPECT_EQ(running.testRunning, 1);
    running.statusText = "shown";
    running.changed = 0;
    ReportSelfTestResult(running, 15);
    EXPECT_EQ(running.statusText, "shown");
    EXPECT_EQ(running.changed, 0);
}

TEST(SelfTest, StartFailureAndStopWithoutARunningTest)
{
    // 0:1:0 has no self test: SEND DIAGNOSTIC is refused with its sense.
    DeviceRecord noDst = Drive(1);
    EXPECT_NE(StartSelfTest(noDst, false), 0);
    EXPECT_EQ(noDst.statusText, "Drive Self Test Failed: 05 / 24 / 00");
    EXPECT_EQ(noDst.state, TEST_FAILED);
    EXPECT_EQ(RunSelfTest(noDst, true), 1);

    // The drive without self test cannot show its log either: that is said, not passed over.
    EXPECT_EQ(StopSelfTest(noDst), 0);
    EXPECT_EQ(noDst.statusText, "Log Sense Failed: 05 / 24 / 00, Please Run the Generic Drive Tests(s)");
    EXPECT_EQ(noDst.state, TEST_FAILED);

    // An empty log holds no result to claim.
    DeviceRecord idle = Drive(0);
    EXPECT_FALSE(AbortSelfTest(idle));
    EXPECT_EQ(StopSelfTest(idle), 0);
    EXPECT_EQ(idle.statusText, "");
    EXPECT_EQ(idle.state, TEST_NONE);
    EXPECT_EQ(SelfTestProgress(idle), 100);
}

TEST(SelfTest, ShortTestRunsToItsEndAndStopsAtItsPercentage)
{
    DeviceRecord full = Drive(0);
    EXPECT_EQ(RunSelfTest(full, false), 0);
    EXPECT_EQ(full.testRunning, 0);

    DeviceRecord part = Drive(0, 5);
    EXPECT_EQ(RunSelfTest(part, true), 0);
}
