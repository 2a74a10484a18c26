#include "frontend/SenseDecoder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

std::array<std::uint8_t, 128> Sense(std::uint8_t keyByte, std::uint8_t asc, std::uint8_t ascq)
{
    std::array<std::uint8_t, 128> sense{};
    sense[0] = 0x70;
    sense[2] = keyByte;
    sense[12] = asc;
    sense[13] = ascq;
    return sense;
}

SenseTexts Builtin(std::uint8_t keyByte, std::uint8_t asc, std::uint8_t ascq)
{
    return DecodeSenseBytes(Sense(keyByte, asc, ascq).data(), nullptr);
}

class SenseFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_path = std::filesystem::temp_directory_path() /
                 ("harrow-sense-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".def");
    }
    void TearDown() override { std::filesystem::remove(m_path); }

    SenseTexts Decode(const std::string& table, std::uint8_t asc, std::uint8_t ascq)
    {
        std::ofstream(m_path, std::ios::binary) << table;
        return DecodeSenseBytes(Sense(0x03, asc, ascq).data(), m_path.c_str());
    }

    std::filesystem::path m_path;
};

TEST(SenseDecoder, KeyTextsIgnoreTheFlagBits)
{
    EXPECT_EQ(Builtin(0x23, 0, 0).key, "Medium Error, ");  // ILI set
    EXPECT_EQ(Builtin(0x00, 0, 0).key, "No Sense, ");
    EXPECT_EQ(Builtin(0x06, 0, 0).key, "Unit Attn, ");
    EXPECT_EQ(Builtin(0x0B, 0, 0).key, "Command Aborted, ");
    EXPECT_EQ(Builtin(0x0E, 0, 0).key, "Miscompare, ");
    for (std::uint8_t key : {0x0A, 0x0C, 0x0F}) {
        EXPECT_EQ(Builtin(key, 0, 0).key, "         ") << int(key);
    }
}

TEST(SenseDecoder, BuiltinTableFillsOneSlot)
{
    auto texts = Builtin(0x03, 0x11, 0x04);
    EXPECT_EQ(texts.asc, "Read Error ");
    EXPECT_EQ(texts.ascq, "");
    texts = Builtin(0x00, 0x00, 0x00);
    EXPECT_EQ(texts.asc, "");
    EXPECT_EQ(texts.ascq, "No Additional Sense ");
    EXPECT_EQ(Builtin(0x00, 0x00, 0x03).ascq, "    ");
    EXPECT_EQ(Builtin(0x04, 0x15, 0x80).ascq, "Settling Error ");
    EXPECT_EQ(Builtin(0x04, 0x15, 0x03).ascq, "             ");
    EXPECT_EQ(Builtin(0x01, 0x18, 0x00).asc, "Recovered Data ");
    EXPECT_EQ(Builtin(0x03, 0x31, 0x01).ascq, "Format Failed ");
    EXPECT_EQ(Builtin(0x03, 0x32, 0x01).asc, "Defect Update Failed ");
    EXPECT_EQ(Builtin(0x03, 0x32, 0x00).asc, "No Spares left");
    EXPECT_EQ(Builtin(0x04, 0xC4, 0x07).asc, "Motor speed failure ");
    texts = Builtin(0x03, 0x32, 0x02);  // an ASCQ no row names
    EXPECT_EQ(texts.asc + texts.ascq, "");
    texts = Builtin(0x05, 0x5D, 0x00);
    EXPECT_EQ(texts.asc + texts.ascq, "");
}

TEST_F(SenseFile, ReplacesTheBuiltinTable)
{
    auto texts = Decode("11,*,Unrecovered read\n", 0x04, 0x00);
    EXPECT_EQ(texts.asc + texts.ascq, "") << "the built-in table must not be consulted";
    texts = Decode("11,*,Unrecovered read\n", 0x11, 0x05);
    EXPECT_EQ(texts.asc, "Unrecovered read");
    EXPECT_EQ(texts.key, "Medium Error, ");
}

TEST_F(SenseFile, ExactQualifierMovesTheTextToTheAscqSlot)
{
    const std::string table = "5d,1,Generic failure\n5D,10,Hardware impending failure\n5d,*,Failure predicted\n";
    auto texts = Decode(table, 0x5D, 0x10);
    EXPECT_EQ(texts.asc, "");
    EXPECT_EQ(texts.ascq, "Hardware impending failure");
    texts = Decode(table, 0x5D, 0x42);
    EXPECT_EQ(texts.asc, "Failure predicted");
    EXPECT_EQ(texts.ascq, "");
    // Without a catch-all the last line of the ASC that was seen stays.
    texts = Decode("5d,1,First\n5d,2,Second\n", 0x5D, 0x07);
    EXPECT_EQ(texts.asc, "Second");
}

TEST_F(SenseFile, BadLinesAreSkippedWithoutReadingPastThem)
{
    const std::string longLine = "11,*," + std::string(90, 'x') + "\n";
    // The tail of an over-long line must not be taken for a line of its own.
    const std::string tricky = "44,*," + std::string(76, 'y') + "11,*,Tail text\n";
    const std::string table = longLine + tricky + "11\n" + "11,5\n" + "zz,*,Bad number\n" + "11,qq,Bad qualifier\n" +
                              "1ff,*,Too big\n" + ",*,No number\n" + "11,*,Good line\r\n";
    auto texts = Decode(table, 0x11, 0x00);
    EXPECT_EQ(texts.asc, "Good line");
    const std::string eighty = "11,*," + std::string(75, 'z');
    EXPECT_EQ(Decode(eighty + "\n", 0x11, 0x00).asc, std::string(75, 'z')) << "80 characters still fit";
    EXPECT_EQ(Decode(eighty + "z\n", 0x11, 0x00).asc, "");
    texts = Decode(tricky, 0x11, 0x00);
    EXPECT_EQ(texts.asc + texts.ascq, "");
    texts = Decode(std::string("11,*,No newline at end"), 0x11, 0x00);
    EXPECT_EQ(texts.asc, "No newline at end");
    texts = Decode(std::string(5000, ','), 0x11, 0x00);
    EXPECT_EQ(texts.asc + texts.ascq, "");
    texts = Decode(std::string("\0\0\n11,*,After zeros\n", 21), 0x11, 0x00);
    EXPECT_EQ(texts.asc, "After zeros");
}

}  // namespace
