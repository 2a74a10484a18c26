#include "core/types/SenseText.h"

#include <gtest/gtest.h>

namespace {

struct Words {
    std::string key = "k";
    std::string code = "c";
    std::string qualifier = "q";
};

Words Interpret(int senseKey, int asc, int ascq)
{
    SCSI_SenseData_s sense{};
    sense.Flags = static_cast<std::uint8_t>(0xE0 | senseKey);  // flag bits must not disturb the key
    sense.AdditionalSenseCode = static_cast<std::uint8_t>(asc);
    sense.AdditionalSenseCodeQualifier = static_cast<std::uint8_t>(ascq);
    Words words;
    InterpretSense(&sense, words.key, words.code, words.qualifier);
    return words;
}

}  // namespace

TEST(SenseWords, SenseKeys)
{
    EXPECT_EQ(Interpret(0x0, 0x05, 0).key, "No Sense, ");
    EXPECT_EQ(Interpret(0x6, 0x05, 0).key, "Unit Attn, ");
    EXPECT_EQ(Interpret(0x9, 0x05, 0).key, "Firmware Error = ");
    EXPECT_EQ(Interpret(0xA, 0x05, 0).key, "         ");
    EXPECT_EQ(Interpret(0xB, 0x05, 0).key, "Command Aborted, ");
    EXPECT_EQ(Interpret(0xC, 0x05, 0).key, "         ");
    EXPECT_EQ(Interpret(0xE, 0x05, 0).key, "Miscompare, ");
    EXPECT_EQ(Interpret(0xF, 0x05, 0).key, "         ");
}

TEST(SenseWords, CodesDependingOnTheAscAlone)
{
    const Words first = Interpret(3, 0x01, 0x77);
    EXPECT_EQ(first.code, "No Index ");
    EXPECT_EQ(first.qualifier, "q");
    EXPECT_EQ(Interpret(3, 0x17, 1).code, "Recovered Data ");
    EXPECT_EQ(Interpret(3, 0x18, 2).code, "Recovered Data ");
    EXPECT_EQ(Interpret(3, 0x98, 0).code, "Transfer Timeout ");
    EXPECT_EQ(Interpret(4, 0xC4, 0).code, "Motor speed failure ");

    const Words unlisted = Interpret(4, 0x05, 0);
    EXPECT_EQ(unlisted.code, "c");
    EXPECT_EQ(unlisted.qualifier, "q");
    EXPECT_EQ(Interpret(4, 0xC5, 0).code, "c");
}

TEST(SenseWords, CodesDependingOnTheQualifier)
{
    EXPECT_EQ(Interpret(0, 0x00, 0x00).qualifier, "No Additional Sense ");
    EXPECT_EQ(Interpret(0, 0x00, 0x04).qualifier, "PBOT Encountered ");
    EXPECT_EQ(Interpret(0, 0x00, 0x03).qualifier, "    ");
    EXPECT_EQ(Interpret(0, 0x00, 0x00).code, "c");
    EXPECT_EQ(Interpret(4, 0x15, 0x80).qualifier, "Settling Error ");
    EXPECT_EQ(Interpret(4, 0x15, 0x03).qualifier, "             ");
    EXPECT_EQ(Interpret(3, 0x31, 0x01).qualifier, "Format Failed ");
    EXPECT_EQ(Interpret(3, 0x31, 0x02).qualifier, "q");

    const Words noSpares = Interpret(4, 0x32, 0x00);
    EXPECT_EQ(noSpares.code, "No Spares left");
    EXPECT_EQ(noSpares.qualifier, "q");
    EXPECT_EQ(Interpret(4, 0x32, 0x01).code, "Defect Update Failed ");
    EXPECT_EQ(Interpret(4, 0x32, 0x02).code, "c");
}

TEST(SenseWords, HostAdapterStatus)
{
    EXPECT_STREQ(HostAdapterStatusText(0x09), "Time out while SRB was waiting to be processed");
    EXPECT_STREQ(HostAdapterStatusText(0x11), "Selection Timeout");
    EXPECT_STREQ(HostAdapterStatusText(0x14), "Target bus phase sequence failure");
    for (int unknown : {-1, 0, 0x08, 0x0A, 0x0C, 0x15, 0x109}) {
        EXPECT_STREQ(HostAdapterStatusText(unknown), "Unknown adapter failure") << unknown;
    }
}
