// Fills and compares of the pattern registry, without a machine.
#include "core/buffers/AlignedBuffer.h"
#include "core/tests/CBufferPatternSystem.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

class PatternTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_HEAP), ERR_NONE); }
    void TearDown() override
    {
        CBufferPatternSystem::Destroy();
        AlignedBuffer::UnregisterBufferMgr();
    }
    static CBufferPatternSystem& Patterns() { return *CBufferPatternSystem::Instance(); }
};

TEST_F(PatternTest, BlockNumbersAreBigEndianWordsAndLeaveTheTail)
{
    Patterns().SetPattern(6, PatternBlockNumbers, nullptr, 0);
    std::vector<unsigned char> memory(20, 0xEE);
    AlignedBuffer buffer(memory.data(), 20);
    ASSERT_EQ(Patterns().FillBuffer(6, &buffer, 0x01020304, 10, 2), ERR_NONE);
    EXPECT_EQ(memory, (std::vector<unsigned char>{1, 2, 3, 4, 1, 2, 3, 4, 0xEE, 0xEE,
                                                   1, 2, 3, 5, 1, 2, 3, 5, 0xEE, 0xEE}));
    EXPECT_TRUE(Patterns().CheckPatternToBlockNums(&buffer, 0x01020304, 10, 2));
    memory[12] = 9;
    EXPECT_FALSE(Patterns().CheckPatternToBlockNums(&buffer, 0x01020304, 10, 2));
    // Asked for more blocks than the buffer holds, nothing is written past it.
    EXPECT_EQ(Patterns().FillBuffer(6, &buffer, 0, 10, 3), ERR_INVALID_PARAM);
    Patterns().SetPattern(7, PatternAA, nullptr, 0);
    EXPECT_EQ(Patterns().FillBuffer(7, &buffer, 0, 10, 2), ERR_INVALID_PARAM);
    EXPECT_EQ(Patterns().FillBuffer(6, nullptr, 0, 10, 2), ERR_NOT_INITIALIZED);
}

// A drive that drops the LBA's high bits writes block n + 2^32 onto block n:
// what it holds then must not pass for block n's own pattern.
TEST_F(PatternTest, BlocksPast32BitsCarryTheirWholeNumber)
{
    Patterns().SetPattern(6, PatternBlockNumbers, nullptr, 0);
    std::vector<unsigned char> memory(16, 0xEE);
    AlignedBuffer buffer(memory.data(), 16);
    ASSERT_EQ(Patterns().FillBuffer(6, &buffer, 0x100000000ULL, 16, 1), ERR_NONE);
    EXPECT_EQ(memory, (std::vector<unsigned char>{0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0}));
    for (const unsigned long long high : {0x100000000ULL, 0x200000000ULL, 0xFFFFFFFF00000000ULL}) {
        for (const unsigned long long low : {0x0ULL, 0x1ULL, 0x2ULL, 0xFFFFFFFEULL, 0xFFFFFFFFULL}) {
            const unsigned long block = high | low;
            ASSERT_EQ(Patterns().FillBuffer(6, &buffer, block, 16, 1), ERR_NONE);
            EXPECT_TRUE(Patterns().CheckPatternToBlockNums(&buffer, block, 16, 1)) << block;
            EXPECT_FALSE(Patterns().CheckPatternToBlockNums(&buffer, low, 16, 1)) << block;
            EXPECT_FALSE(Patterns().CheckPatternToBlockNums(&buffer, block ^ 0x100000000ULL, 16, 1)) << block;
        }
    }
    // The difference is named by its byte: the second word of block 2^32 + 1.
    ASSERT_EQ(Patterns().FillBuffer(6, &buffer, 0x100000001ULL, 16, 1), ERR_NONE);
    memory[6] = 0x00;
    int offset = -1;
    unsigned char expected = 0;
    unsigned char actual = 0;
    EXPECT_FALSE(Patterns().CheckPatternToBlockNums(&buffer, 0x100000001ULL, 16, 1, offset, expected, actual));
    EXPECT_EQ(offset, 6);
    EXPECT_EQ(expected, 0xFF);
    EXPECT_EQ(actual, 0x00);
}

TEST_F(PatternTest, UserPatternRepeatsAndItsTailIsNeitherFilledNorCompared)
{
    auto* user = new AlignedBuffer(3);
    std::memcpy(user->Ptr(), "abc", 3);
    Patterns().SetPattern(1, PatternUser, user, 3);
    std::vector<unsigned char> memory(512, 0x00);
    AlignedBuffer buffer(memory.data(), 512);
    ASSERT_EQ(Patterns().FillBuffer(1, &buffer), ERR_NONE);
    EXPECT_EQ(memory[507], 'a');
    EXPECT_EQ(memory[509], 'c');
    EXPECT_EQ(memory[510], 0x00);
    EXPECT_EQ(memory[511], 0x00);
    int offset = -1;
    unsigned char expected = 0;
    unsigned char actual = 0;
    memory[511] = 0x77;
    EXPECT_TRUE(Patterns().CompareData(1, &buffer, offset, expected, actual));
    memory[301] = 'z';
    EXPECT_FALSE(Patterns().CompareData(1, &buffer, offset, expected, actual));
    EXPECT_EQ(offset, 301);
    EXPECT_EQ(expected, 'b');
    EXPECT_EQ(actual, 'z');

    // A length beyond the user's bytes, or none at all, fills nothing.
    Patterns().SetPattern(2, PatternUser, new AlignedBuffer(3), 4);
    EXPECT_EQ(Patterns().FillBuffer(2, &buffer), ERR_NOT_INITIALIZED);
    Patterns().SetPattern(2, PatternUser, nullptr, 0);
    EXPECT_EQ(Patterns().FillBuffer(2, &buffer), ERR_NOT_INITIALIZED);
    EXPECT_EQ(Patterns().GetPatternType(2), PatternUser);
}

TEST_F(PatternTest, FixedKindsFillAndCompareTheirBytes)
{
    std::vector<unsigned char> memory(64, 0x11);
    AlignedBuffer buffer(memory.data(), 64);
    int offset = -1;
    unsigned char expected = 0;
    unsigned char actual = 0;
    EXPECT_EQ(Patterns().FillBuffer(9, &buffer), ERR_NOT_INITIALIZED);
    EXPECT_FALSE(Patterns().CompareData(9, &buffer, offset, expected, actual));
    EXPECT_EQ(offset, -1);
    EXPECT_EQ(Patterns().GetPatternType(9), PatternNone);
    EXPECT_EQ(Patterns().GetPatternLength(9), 0);

    Patterns().SetPattern(3, Pattern55, nullptr, 0);
    ASSERT_EQ(Patterns().FillBuffer(3, &buffer), ERR_NONE);
    EXPECT_TRUE(Patterns().CompareData(3, &buffer, offset, expected, actual));
    Patterns().SetPattern(0, PatternNone, nullptr, 0);
    EXPECT_EQ(Patterns().FillBuffer(0, &buffer), ERR_NOT_INITIALIZED);
    // Kinds 5 and 6 leave the buffer alone and compare as zeros.
    for (Pattern_t kind : {PatternUnchanged, PatternBlockNumbers}) {
        Patterns().SetPattern(4, kind, nullptr, 0);
        EXPECT_EQ(Patterns().FillBuffer(4, &buffer), ERR_NONE);
        EXPECT_EQ(memory[0], 0x55);
        EXPECT_FALSE(Patterns().CompareData(4, &buffer, offset, expected, actual));
        EXPECT_EQ(offset, 0);
        EXPECT_EQ(expected, 0x00);
        EXPECT_EQ(actual, 0x55);
    }
}

}  // namespace
