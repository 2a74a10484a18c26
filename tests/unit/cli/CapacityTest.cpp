#include "frontend/Capacity.h"
#include "frontend/TextFormat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

// The windowed program's tree shows the megabytes the console's report
// prints with "%0.0f": 34732.89 MB is 34733 in both, not 34732.
TEST(Capacity, TheTreeShowsTheReportsFigure)
{
    EXPECT_EQ(RoundedMegabytes(71132959, 512), 34733);
    for (const std::uint64_t lastLba : {0ULL, 1ULL, 2047ULL, 2048ULL, 4095ULL, 6143ULL, 35566479ULL, 71132959ULL,
                                        0xFFFFFFFFULL, 0x100000000ULL}) {
        for (const std::uint32_t blockLength : {512U, 520U, 4096U}) {
            EXPECT_EQ(std::to_string(RoundedMegabytes(lastLba, blockLength)),
                      Format("%0.0f", CapacityMegabytes(lastLba, blockLength)))
                << lastLba << " x " << blockLength;
        }
    }
}

// Exactly half a megabyte rounds as printf does, to the even neighbour.
TEST(Capacity, HalvesRoundAsPrintfRounds)
{
    EXPECT_EQ(RoundedMegabytes(1024, 512), 0);   // 0.5
    EXPECT_EQ(RoundedMegabytes(3072, 512), 2);   // 1.5
    EXPECT_EQ(RoundedMegabytes(5120, 512), 2);   // 2.5
    EXPECT_EQ(Format("%0.0f", CapacityMegabytes(5120, 512)), "2");
}

}  // namespace
