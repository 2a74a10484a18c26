// Performance figures, rate alarms and error-count alarms.
#include "core/devices/CErrorInfo.h"
#include "core/devices/CPerformanceData.h"
#include "support/BoundedWait.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace {

TEST(PerformanceData, AlarmsByKind)
{
    CPerformanceData data;
    data._InitCritSect();
    data.AddReadData(200, 100, 0.5f, 4096);
    data.AddReadData(600, 300, 0.5f, 8192);
    EXPECT_FLOAT_EQ(data.GetAvgReadRate(), 400);
    EXPECT_EQ(data.GetMinReadBlock(), 4096UL);
    EXPECT_EQ(data.GetMaxReadBlock(), 8192UL);

    const struct {
        float limit;
        PerfAlarm_t kind;
        bool trips;
    } cases[] = {{500, PerfAlarmAverage, true},
                 {150, PerfAlarmMinimum, false},
                 {601, PerfAlarmMaximum, true},
                 {1e9f, static_cast<PerfAlarm_t>(7), false}};  // unknown kinds never trip
    for (const auto& c : cases) {
        data.SetReadAlarm(c.limit, c.kind);
        EXPECT_EQ(data.ReadAlarmTripped(), c.trips) << c.limit;
    }
    // Without write data the write alarm cannot trip.
    data.SetAlarms({PerfAlarmAverage, 1e9f, PerfAlarmAverage, 1e9f});
    EXPECT_FALSE(data.WriteAlarmTripped());

    // A sample without time has no rate and is not added.
    data.AddReadData(10, 10, 0.0f, 1);
    EXPECT_EQ(data.GetTotalReadBlocks(), 800);
}

TEST(PerformanceData, LastAndMaximumRatesAndAWholeLargeDriveWithoutOverflow)
{
    CPerformanceData data;
    data._InitCritSect();
    data.AddWriteData(8, 4, 1.0f, 10);
    data.AddWriteData(8, 40, 2.0f, 20);
    data.AddWriteData(8, 8, 4.0f, 30);
    EXPECT_FLOAT_EQ(data.GetLastWriteRate(), 2);
    EXPECT_FLOAT_EQ(data.GetMaxWriteRate(), 20);
    EXPECT_FLOAT_EQ(data.GetMinWriteRate(), 2);
    EXPECT_EQ(data.GetWriteBlock(), 30UL);
    EXPECT_EQ(data.GetMaxWriteBlock(), 20UL);

    // 2 TiB read at 1 GiB/s, one gibibyte a second.
    constexpr long kBlocksPerGiB = 2097152;
    constexpr long kKilobytesPerGiB = 1048576;
    for (unsigned long second = 0; second < 2048; ++second) {
        data.AddReadData(kBlocksPerGiB, kKilobytesPerGiB, 1.0f, 0xFFFF0000UL + second * kBlocksPerGiB);
    }
    EXPECT_FLOAT_EQ(data.GetAvgReadRate(), 1048576.0f);
    EXPECT_EQ(data.GetTotalReadBlocks(), 4294967296L);
    EXPECT_EQ(data.GetReadBlock(), 0xFFFF0000UL + 2047UL * kBlocksPerGiB);
    data.SetReadAlarm(1000.0f, PerfAlarmAverage);
    EXPECT_FALSE(data.ReadAlarmTripped());
}

TEST(PerformanceData, ClearingKeepsAlarmsAndCopiesOwnTheirLock)
{
    auto source = std::make_unique<CPerformanceData>();  // no lock set up: samples still count
    source->AddReadData(1, 100, 1.0f, 5);
    source->AddSeekData(1000, 0.5f);
    source->AddSeekData(3000, 0.5f);
    EXPECT_FLOAT_EQ(source->GetMinSeekRate(), 2000);
    EXPECT_FLOAT_EQ(source->GetAvgSeekRate(), 4000);
    source->SetReadAlarm(500, PerfAlarmAverage);
    source->SetBlocksPerXfr(128);

    CPerformanceData copy(*source);
    source->ClearAllData();
    EXPECT_FLOAT_EQ(source->GetAvgReadRate(), 0);
    EXPECT_FLOAT_EQ(source->GetMaxSeekRate(), 0);
    EXPECT_FALSE(source->ReadAlarmTripped());  // no data since clearing
    EXPECT_EQ(source->GetBlocksPerXfr(), 128);
    source->AddReadData(1, 100, 1.0f, 0);
    EXPECT_TRUE(source->ReadAlarmTripped());  // the alarm survived clearing

    source.reset();  // the copy must not depend on the source's lock
    EXPECT_FLOAT_EQ(copy.GetAvgReadRate(), 100);
    EXPECT_TRUE(copy.ReadAlarmTripped());
    copy.AddWriteData(1, 1, 1.0f, 9);
    EXPECT_EQ(copy.GetWriteBlock(), 9UL);
}

TEST(Accounting, ConcurrentSamplesAndCountsAreAllKept)
{
    CPerformanceData data;
    data._InitCritSect();
    CErrorInfo errors;
    errors._InitCritSect();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                data.AddReadData(2, 1, 0.001f, static_cast<unsigned long>(i));
                (t % 2 == 0) ? errors.IncSoftErrors() : errors.IncHardErrors();
            }
        });
    }
    test_support::JoinWithin(threads, "threads adding samples and counts");
    EXPECT_EQ(data.GetTotalReadBlocks(), 16000);
    EXPECT_NEAR(data.GetAvgReadRate(), 1000, 1);
    EXPECT_EQ(errors.GetSoftErrors(), 4000);
    EXPECT_EQ(errors.GetHardErrors(), 4000);
    EXPECT_EQ(errors.GetTotalErrors(), 8000);
}

TEST(ErrorInfo, AlarmsTripAtTheirLimitAndNegativeLimitsAreOff)
{
    CErrorInfo info;
    EXPECT_FALSE(info.SoftErrorAlarmTripped());
    info.SetSoftErrorAlarm(3);
    info.IncSoftErrors();
    info.IncSoftErrors();
    EXPECT_FALSE(info.SoftErrorAlarmTripped());
    info.IncSoftErrors();
    EXPECT_TRUE(info.SoftErrorAlarmTripped());

    info.SetAlarms({-1, 0});  // a limit of 0 trips at once
    EXPECT_FALSE(info.SoftErrorAlarmTripped());
    EXPECT_TRUE(info.HardErrorAlarmTripped());
}

}  // namespace
