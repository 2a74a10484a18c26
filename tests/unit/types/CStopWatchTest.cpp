#include "core/types/CStopWatch.h"

#include <gtest/gtest.h>

namespace {

// Drives the stopwatch from given counts instead of the clock.
class ScriptedWatch : public CStopWatch {
public:
    explicit ScriptedWatch(LONGLONG frequency) : CStopWatch(frequency) {}
    void Run(ULONGLONG start, ULONGLONG stop)
    {
        StartAt(start);
        StopAt(stop);
    }
};

constexpr LONGLONG kTenMegahertz = 10'000'000;

}  // namespace

TEST(CStopWatch, CounterUnits)
{
    ScriptedWatch watch(kTenMegahertz);
    watch.Run(1000, 1000 + 15'000'000);  // 1.5 s
    EXPECT_FLOAT_EQ(watch.Seconds(), 1.5f);
    EXPECT_EQ(watch.MilliSeconds(), 1500u);
    EXPECT_EQ(watch.MicroSeconds().QuadPart, 1'500'000);

    watch.Run(0, 7'000'000);  // 0.7 s must not truncate to 699 ms
    EXPECT_EQ(watch.MilliSeconds(), 700u);
}

TEST(CStopWatch, CounterWrapAndLongIntervals)
{
    ScriptedWatch watch(kTenMegahertz);
    // Low 32 bits wrap between start and stop.
    watch.Run(0x1FFFFFFF0ULL, 0x200000010ULL);
    EXPECT_EQ(watch.MicroSeconds().QuadPart, 3);  // 32 ticks = 3.2 us

    // Whole counter wraps.
    watch.Run(0xFFFFFFFFFFFFFF00ULL, 0x100ULL + 10'000'000);
    EXPECT_EQ(watch.MilliSeconds(), 1000u);

    // Two hours: far beyond what 32 bits of a 10 MHz counter hold.
    watch.Run(5, 5 + 7200ULL * kTenMegahertz);
    EXPECT_FLOAT_EQ(watch.Seconds(), 7200.0f);
}

TEST(CStopWatch, TickCountFallbackWrapsAt32Bits)
{
    ScriptedWatch watch(0);
    watch.Run(0xFFFFFFF0ULL, 0x10ULL);
    EXPECT_EQ(watch.MilliSeconds(), 32u);

    watch.Run(1000, 2500);
    EXPECT_FLOAT_EQ(watch.Seconds(), 1.5f);
    EXPECT_EQ(watch.MilliSeconds(), 1500u);
}

TEST(CStopWatch, RealCounterMeasuresForward)
{
    CStopWatch watch;
    EXPECT_EQ(watch.Seconds(), 0.0f);
    watch.Start();
    watch.Stop();
    EXPECT_GE(watch.Seconds(), 0.0f);
    EXPECT_LT(watch.Seconds(), 60.0f);

    const CStopWatch copy = watch;
    EXPECT_EQ(copy.MicroSeconds().QuadPart, watch.MicroSeconds().QuadPart);
}
