// The sequential tests: the blocks of each command, the write-read passes and
// what the block-number pattern leaves on the medium.
#include "EngineFixture.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/tests/CBufferPatternSystem.h"
#include "core/tests/DiskSeqTests.h"

#include <cstring>

namespace engine_test {
namespace {

using Transfers = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

class SequentialTest : public EngineFixture {};

TEST_F(SequentialTest, StepsEndExactlyAtTheEndBlock)
{
    // Small blocks, so 200 of them fit the heap's largest buffer.
    StartMachine(R"([{"target": 0, "blocks": 400, "blockSize": 256}])");
    auto one = Addresses({0});
    CDiskSeqReadTest sixteen(&one, 1, 0, 1, 0);
    ASSERT_EQ(sixteen.StartTest(0, 100, 0, 16, 0), ERR_NONE);
    RunToEnd(sixteen);
    EXPECT_EQ(Seen(0).Transfers(kRead10),
              (Transfers{{0, 16}, {16, 16}, {32, 16}, {48, 16}, {64, 16}, {80, 16}, {96, 4}}));
    EXPECT_EQ(sixteen.GetProgress(), 100);

    // A first command that is also the last is cut to the range as well.
    ClearSeen();
    CDiskSeqReadTest large(&one, 1, 0, 1, 0);
    ASSERT_EQ(large.StartTest(0, 100, 0, 200, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(large).texts, kNoEvents);
    EXPECT_EQ(Seen(0).Transfers(kRead10), (Transfers{{0, 100}}));
}

TEST_F(SequentialTest, WriteReadWritesThenReadsBackWithProgressToTwiceTheRange)
{
    StartMachine(R"([{"target": 0, "blocks": 400}])");
    CBufferPatternSystem::Instance()->SetPattern(1, PatternBlockNumbers, nullptr, 0);
    CBufferPatternSystem::SetDataCompare(true);
    auto one = Addresses({0});
    CDiskSeqWriteReadTest test(&one, 1, 1, 1, 0);
    ASSERT_EQ(test.StartTest(0, 100, 0, 16, 0), ERR_NONE);
    long low = -1;
    long high = -1;
    test.GetProgressRange(low, high);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 200);
    const Outcome outcome = RunToEnd(test);
    EXPECT_EQ(outcome.texts, kNoEvents);
    EXPECT_EQ(test.GetProgress(), 200);
    const Transfers pass{{0, 16}, {16, 16}, {32, 16}, {48, 16}, {64, 16}, {80, 16}, {96, 4}};
    EXPECT_EQ(Seen(0).Transfers(kWrite10), pass);
    EXPECT_EQ(Seen(0).Transfers(kRead10), pass);
    const auto all = Seen(0).Without(kInquiry);
    EXPECT_EQ(all.front().Opcode(), kWrite10);
    EXPECT_EQ(all.back().Opcode(), kRead10);
}

TEST_F(SequentialTest, BlockNumbersLandOnTheMediumBigEndian)
{
    StartMachine(R"([{"target": 0, "blocks": 400, "blockSize": 520}])");
    CBufferPatternSystem::Instance()->SetPattern(2, PatternBlockNumbers, nullptr, 0);
    auto one = Addresses({0});
    CDiskSeqWriteVerifyTest test(&one, 1, 2, 1, 0);
    ASSERT_EQ(test.StartTest(250, 300, 0, 16, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(test).texts, kNoEvents);

    AlignedBuffer data(50 * 520);
    ASSERT_EQ(Disk(0)->Read(0, 250, 50, &data, 0, 0, 0), ERR_NONE);
    const auto* bytes = static_cast<const unsigned char*>(data.Ptr());
    for (unsigned block = 0; block < 50; ++block) {
        const unsigned char* at = bytes + block * 520;
        const unsigned number = 250 + block;
        for (unsigned word = 0; word < 130; ++word) {
            ASSERT_EQ(at[word * 4 + 2], number >> 8) << "block " << number << " word " << word;
            ASSERT_EQ(at[word * 4 + 3], number & 0xFF) << "block " << number << " word " << word;
            ASSERT_EQ(at[word * 4], 0);
        }
    }
}

TEST_F(SequentialTest, UserPatternWrittenOnceComparesOnRead)
{
    StartMachine(R"([{"target": 0, "blocks": 400}])");
    auto* user = new AlignedBuffer(3);
    std::memcpy(user->Ptr(), "\x12\x34\x56", 3);
    CBufferPatternSystem::Instance()->SetPattern(4, PatternUser, user, 3);
    CBufferPatternSystem::SetDataCompare(true);
    auto one = Addresses({0});
    CDiskSeqWriteTest write(&one, 1, 4, 1, 0);
    ASSERT_EQ(write.StartTest(0, 64, 0, 16, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(write).texts, kNoEvents);
    // 16 blocks of 512 hold 2730 repetitions; the last 2 bytes of each buffer are no repetition.
    EXPECT_EQ(Seen(0).Without(kInquiry).front().dataOut, (std::vector<std::uint8_t>{0x12, 0x34, 0x56, 0x12, 0x34, 0x56, 0x12, 0x34,
                                                                         0x56, 0x12, 0x34, 0x56, 0x12, 0x34, 0x56, 0x12}));
    CDiskSeqReadTest read(&one, 1, 4, 1, 0);
    ASSERT_EQ(read.StartTest(0, 64, 0, 16, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(read).texts, kNoEvents);
}

}  // namespace
}  // namespace engine_test
