// Performance figures, rate alarms and error-count alarms.
#include "core/devices/CErrorInfo.h"
#include "core/devices/CPerformanceData.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

CPerformanceData TwoReadSamples()
{
    CPerformanceData data;
    data._InitCritSect();
    data.AddReadData(200, 100, 0.5f, 4096);
    data.AddReadData(600, 300, 0.5f, 8192);
    return data;
}

TEST(PerformanceData, ReadSamplesGiveLastMinimumMaximumAndAverage)
{
    CPerformanceData data;
    data._InitCritSect();
    data.AddReadData(200, 100, 0.5f, 4096);
    EXPECT_FLOAT_EQ(data.GetLastReadRate(), 200);
    EXPECT_FLOAT_EQ(data.GetMinReadRate(), 200);
    EXPECT_FLOAT_EQ(data.GetMaxReadRate(), 200);
    EXPECT_FLOAT_EQ(data.GetAvgReadRate(), 200);
    EXPECT_EQ(data.GetMinReadBlock(), 4096UL);
    EXPECT_EQ(data.GetMaxReadBlock(), 4096UL);

    data.AddReadData(600, 300, 0.5f, 8192);
    EXPECT_FLOAT_EQ(data.GetLastReadRate(), 600);
    EXPECT_FLOAT_EQ(data.GetMinReadRate(), 200);
    EXPECT_FLOAT_EQ(data.GetMaxReadRate(), 600);
    EXPECT_FLOAT_EQ(data.GetAvgReadRate(), 400);
    EXPECT_EQ(data.GetMinReadBlock(), 4096UL);
    EXPECT_EQ(data.GetMaxReadBlock(), 8192UL);
    EXPECT_EQ(data.GetReadBlock(), 8192UL);
    EXPECT_EQ(data.GetTotalReadBlocks(), 800);
    EXPECT_FLOAT_EQ(data.GetReadSeconds(), 1.0f);
    // Reads leave the write side untouched.
    EXPECT_FLOAT_EQ(data.GetAvgWriteRate(), 0);
    EXPECT_EQ(data.GetTotalWriteBlocks(), 0);
}

TEST(PerformanceData, RateAlarmsJudgeByTheirKindAndNeedData)
{
    CPerformanceData data = TwoReadSamples();
    data.SetReadAlarm(500, PerfAlarmAverage);
    EXPECT_TRUE(data.ReadAlarmTripped());  // 400 < 500
    data.SetReadAlarm(150, PerfAlarmMinimum);
    EXPECT_FALSE(data.ReadAlarmTripped());
    data.SetReadAlarm(601, PerfAlarmMaximum);
    EXPECT_TRUE(data.ReadAlarmTripped());
    data.SetReadAlarm(1e9f, PerfAlarmOff);
    EXPECT_FALSE(data.ReadAlarmTripped());
    data.SetReadAlarm(1e9f, static_cast<PerfAlarm_t>(7));
    EXPECT_FALSE(data.ReadAlarmTripped());

    // No write data: the write alarm cannot trip, however high its threshold.
    data.SetAlarms({PerfAlarmAverage, 1e9f, PerfAlarmAverage, 1e9f});
    EXPECT_TRUE(data.ReadAlarmTripped());
    EXPECT_FALSE(data.WriteAlarmTripped());
    data.AddWriteData(10, 10, 1.0f, 7);
    EXPECT_TRUE(data.WriteAlarmTripped());
}

TEST(PerformanceData, ClearingKeepsAlarmsAndBlocksPerTransfer)
{
    CPerformanceData data = TwoReadSamples();
    data.AddWriteData(10, 20, 2.0f, 3);
    data.AddSeekData(1000, 0.5f);
    data.SetReadAlarm(500, PerfAlarmAverage);
    data.SetBlocksPerXfr(128);

    data.ClearAllData();
    EXPECT_FLOAT_EQ(data.GetAvgReadRate(), 0);
    EXPECT_FLOAT_EQ(data.GetMinReadRate(), 0);
    EXPECT_EQ(data.GetTotalReadBlocks(), 0);
    EXPECT_EQ(data.GetMaxReadBlock(), 0UL);
    EXPECT_FLOAT_EQ(data.GetAvgWriteRate(), 0);
    EXPECT_FLOAT_EQ(data.GetMaxSeekRate(), 0);
    EXPECT_FALSE(data.ReadAlarmTripped());  // no data since clearing
    EXPECT_EQ(data.GetBlocksPerXfr(), 128);

    data.AddReadData(1, 100, 1.0f, 0);
    EXPECT_TRUE(data.ReadAlarmTripped());  // the alarm survived: 100 < 500
}

TEST(PerformanceData, SeekRatesAndSamplesWithoutTime)
{
    CPerformanceData data;  // lock never set up by an owner: samples still count
    data.AddSeekData(1000, 0.5f);
    data.AddSeekData(3000, 0.5f);
    EXPECT_FLOAT_EQ(data.GetMinSeekRate(), 2000);
    EXPECT_FLOAT_EQ(data.GetMaxSeekRate(), 6000);
    EXPECT_FLOAT_EQ(data.GetAvgSeekRate(), 4000);

    data.AddReadData(10, 10, 0.0f, 1);
    data.AddSeekData(10, 0.0f);
    EXPECT_EQ(data.GetTotalReadBlocks(), 0);
    EXPECT_FLOAT_EQ(data.GetAvgSeekRate(), 4000);
}

TEST(PerformanceData, CopiesCarryFiguresAndALockOfTheirOwn)
{
    auto source = std::make_unique<CPerformanceData>(TwoReadSamples());
    source->SetWriteAlarm(5, PerfAlarmMinimum);
    CPerformanceData copy(*source);
    CPerformanceData assigned;
    assigned = *source;
    source.reset();  // the copies must not depend on the source's lock

    for (CPerformanceData* data : {&copy, &assigned}) {
        EXPECT_FLOAT_EQ(data->GetAvgReadRate(), 400);
        EXPECT_EQ(data->GetMaxReadBlock(), 8192UL);
        data->AddWriteData(1, 1, 1.0f, 9);
        EXPECT_TRUE(data->WriteAlarmTripped());  // 1 < 5: the alarm setting was copied
    }
    EXPECT_TRUE(copy.IsLockReady());
}

TEST(PerformanceData, ConcurrentSamplesAreAllCounted)
{
    CPerformanceData data;
    data._InitCritSect();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&data] {
            for (int i = 0; i < 2000; ++i) {
                data.AddReadData(2, 1, 0.001f, static_cast<unsigned long>(i));
                data.AddWriteData(3, 1, 0.001f, static_cast<unsigned long>(i));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(data.GetTotalReadBlocks(), 16000);
    EXPECT_EQ(data.GetTotalWriteBlocks(), 24000);
    EXPECT_NEAR(data.GetAvgReadRate(), 1000, 1);
}

TEST(ErrorInfo, AlarmsTripAtTheirLimitAndNegativeLimitsAreOff)
{
    CErrorInfo info;
    info._InitCritSect();
    EXPECT_FALSE(info.SoftErrorAlarmTripped());
    EXPECT_FALSE(info.HardErrorAlarmTripped());

    info.SetSoftErrorAlarm(3);
    info.IncSoftErrors();
    info.IncSoftErrors();
    EXPECT_FALSE(info.SoftErrorAlarmTripped());
    info.IncSoftErrors();
    EXPECT_TRUE(info.SoftErrorAlarmTripped());

    info.SetAlarms({-1, 0});  // a limit of 0 trips at once
    EXPECT_FALSE(info.SoftErrorAlarmTripped());
    EXPECT_TRUE(info.HardErrorAlarmTripped());
    info.IncHardErrors();
    EXPECT_EQ(info.GetHardErrors(), 1);
    EXPECT_EQ(info.GetSoftErrors(), 3);
    EXPECT_EQ(info.GetTotalErrors(), 4);
}

TEST(ErrorInfo, ConcurrentCountsAreAllKept)
{
    CErrorInfo info;
    info._InitCritSect();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&info, t] {
            for (int i = 0; i < 5000; ++i) {
                (t % 2 == 0) ? info.IncSoftErrors() : info.IncHardErrors();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(info.GetSoftErrors(), 10000);
    EXPECT_EQ(info.GetHardErrors(), 10000);
    EXPECT_EQ(info.GetTotalErrors(), 20000);
}

}  // namespace
