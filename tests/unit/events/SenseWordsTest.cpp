#include "core/types/SenseText.h"

#include <gtest/gtest.h>

namespace {

// key, code and qualifier texts, each starting as a marker that shows when it stays unchanged
std::string Words(int senseKey, int asc, int ascq)
{
    SCSI_SenseData_s sense{};
    sense.Flags = static_cast<std::uint8_t>(0xE0 | senseKey);  // flag bits must not disturb the key
    sense.AdditionalSenseCode = static_cast<std::uint8_t>(asc);
    sense.AdditionalSenseCodeQualifier = static_cast<std::uint8_t>(ascq);
    std::string key = "k", code = "c", qualifier = "q";
    InterpretSense(&sense, key, code, qualifier);
    return key + "|" + code + "|" + qualifier;
}

}  // namespace

TEST(SenseWords, KeysAndCodesAtTheEdgesOfTheTables)
{
    const std::string blanks9(9, ' ');
    EXPECT_EQ(Words(0x0, 0x01, 0x77), "No Sense, |No Index |q");
    EXPECT_EQ(Words(0x6, 0x29, 0), "Unit Attn, |Power-on or RESET |q");
    EXPECT_EQ(Words(0x9, 0x17, 1), "Firmware Error = |Recovered Data |q");
    EXPECT_EQ(Words(0xA, 0x18, 2), blanks9 + "|Recovered Data |q");
    EXPECT_EQ(Words(0xC, 0x98, 0), blanks9 + "|Transfer Timeout |q");
    EXPECT_EQ(Words(0xE, 0xC4, 0), "Miscompare, |Motor speed failure |q");
    EXPECT_EQ(Words(0xF, 0x05, 0), blanks9 + "|c|q");
    EXPECT_EQ(Words(0x4, 0xC5, 0), "Hardware Error, |c|q");
}

TEST(SenseWords, CodesThatDependOnTheQualifier)
{
    EXPECT_EQ(Words(0, 0x00, 0x00), "No Sense, |c|No Additional Sense ");
    EXPECT_EQ(Words(0, 0x00, 0x04), "No Sense, |c|PBOT Encountered ");
    EXPECT_EQ(Words(0, 0x00, 0x03), "No Sense, |c|    ");
    EXPECT_EQ(Words(4, 0x15, 0x80), "Hardware Error, |c|Settling Error ");
    EXPECT_EQ(Words(4, 0x15, 0x03), "Hardware Error, |c|" + std::string(13, ' '));
    EXPECT_EQ(Words(3, 0x31, 0x01), "Medium Error, |c|Format Failed ");
    EXPECT_EQ(Words(3, 0x31, 0x02), "Medium Error, |c|q");
    EXPECT_EQ(Words(4, 0x32, 0x00), "Hardware Error, |No Spares left|q");
    EXPECT_EQ(Words(4, 0x32, 0x01), "Hardware Error, |Defect Update Failed |q");
    EXPECT_EQ(Words(4, 0x32, 0x02), "Hardware Error, |c|q");
}

TEST(SenseWords, HostAdapterStatus)
{
    EXPECT_STREQ(HostAdapterStatusText(0x09), "Time out while SRB was waiting to be processed");
    EXPECT_STREQ(HostAdapterStatusText(0x11), "Selection Timeout");
    EXPECT_STREQ(HostAdapterStatusText(0x14), "Target bus phase sequence failure");
    for (int unknown : {-1, 0x08, 0x0A, 0x15, 0x109}) {
        EXPECT_STREQ(HostAdapterStatusText(unknown), "Unknown adapter failure") << unknown;
    }
}
