#include "machine/iscsi/LunReport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace harrow::machine {
namespace {

// A REPORT LUNS answer (SPC-4 6.33) listing LUNs 0 to count - 1, flat space addressing above 255.
std::vector<std::uint8_t> Answer(std::uint32_t count)
{
    std::vector<std::uint8_t> answer(8 + 8 * count, 0);
    const std::uint32_t length = 8 * count;
    answer[0] = static_cast<std::uint8_t>(length >> 24);
    answer[1] = static_cast<std::uint8_t>(length >> 16);
    answer[2] = static_cast<std::uint8_t>(length >> 8);
    answer[3] = static_cast<std::uint8_t>(length);
    for (std::uint32_t lun = 0; lun < count; ++lun) {
        std::uint8_t* entry = &answer[8 + 8 * lun];
        entry[0] = static_cast<std::uint8_t>(lun > 255 ? 0x40 | (lun >> 8) : 0);
        entry[1] = static_cast<std::uint8_t>(lun);
    }
    return answer;
}

TEST(LunReport, TenThousandLunsAreSummedUpInOneLine)
{
    std::vector<std::string> notes;
    const auto luns = LunsFromReport(Answer(10000), &notes);
    EXPECT_EQ(luns.size(), 256u);  // LUN 255, the last a port can name
    EXPECT_EQ(luns.back(), 255u);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "9744 LUNs cannot be addressed through a port and are left out (the first is 4100000000000000)");
}

TEST(LunReport, OneLunLeftOutIsNamed)
{
    std::vector<std::string> notes;
    EXPECT_EQ(LunsFromReport(Answer(257), &notes).size(), 256u);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "LUN 4100000000000000 cannot be addressed through a port and is left out");
}

TEST(LunReport, ALunListedTwiceOrNamedBothWaysIsOneUnit)
{
    auto answer = Answer(4);
    answer[8 + 8 * 2 + 1] = 1;     // the third entry repeats LUN 1
    answer[8 + 8 * 3] = 0x40;      // the fourth names LUN 3 in flat space addressing
    answer.resize(answer.size() + 8);
    answer[3] = 8 * 5;
    answer[8 + 8 * 4 + 1] = 3;     // and a fifth names it with peripheral addressing
    std::vector<std::string> notes;
    EXPECT_EQ(LunsFromReport(answer, &notes), (std::vector<unsigned>{0, 1, 3}));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "REPORT LUNS: 2 entries repeat a LUN already listed and are left out");
}

}  // namespace
}  // namespace harrow::machine
