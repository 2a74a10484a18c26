// Format, firmware download and the user CDB through the test machinery.
#include "EngineFixture.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/tests/CBufferPatternSystem.h"
#include "core/tests/CCmdDiskFormatTest.h"
#include "core/tests/CCmdFirmwareDnldTest.h"
#include "core/tests/CCmdUserDefCDBTest.h"
#include "core/tests/CTestBufferAccess.h"
#include "machine/drives/Firmware.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace engine_test {
namespace {

using Chunks = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// (offset, length) of every WRITE BUFFER the unit was sent.
Chunks WriteBuffers(Recorder& recorder)
{
    Chunks chunks;
    for (const SeenCommand& command : recorder.All()) {
        if (command.Opcode() == kWriteBuffer) {
            chunks.emplace_back((command.cdb[3] << 16) | (command.cdb[4] << 8) | command.cdb[5],
                                (command.cdb[6] << 16) | (command.cdb[7] << 8) | command.cdb[8]);
        }
    }
    return chunks;
}

class CommandTestsTest : public EngineFixture {
protected:
    std::string WriteImage(std::size_t bytes, const std::string& revision = "K200")
    {
        const auto image = harrow::machine::drives::MakeFirmwareImage(
            "KX18LVD", revision, revision + "SCSI", bytes - harrow::machine::drives::kImageHeaderSize);
        const std::string path = (m_Dir / ("image" + std::to_string(bytes) + revision + ".bin")).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                                    static_cast<std::streamsize>(image.size()));
        return path;
    }
};

TEST_F(CommandTestsTest, SegmentedDownloadSendsChunksOf8192AndAnEmptyOneAtAnExactEnd)
{
    StartMachine(R"([{"target": 0, "blocks": 1000}])");
    auto one = Addresses({0});
    CCmdSegFirmwareDnldTest test(&one, 1, 0, 7);
    EXPECT_EQ(test.StartTest(std::string()), ERR_INVALID_PARAM);
    ASSERT_EQ(test.StartTest(WriteImage(20000)), ERR_NONE);
    EXPECT_EQ(RunToEnd(test).texts, kNoEvents);
    EXPECT_EQ(WriteBuffers(Seen(0)), (Chunks{{0, 8192}, {8192, 8192}, {16384, 3616}}));
    EXPECT_EQ(Seen(0).All().front().Opcode(), 0x00);  // the quiet unit checks come first
    EXPECT_EQ(Seen(0).All().back().Opcode(), 0x00);   // and one after
    EXPECT_EQ(Disk(0)->GetTestState(), 2u);

    // The image is whole after the second chunk: the drive answers the empty
    // third with the unit attention of its new microcode, which is success.
    ClearSeen();
    CCmdSegFirmwareDnldTest exact(&one, 1, 0, 7);
    ASSERT_EQ(exact.StartTest(WriteImage(16384, "K300")), ERR_NONE);
    EXPECT_EQ(RunToEnd(exact).texts, kNoEvents);
    EXPECT_EQ(WriteBuffers(Seen(0)), (Chunks{{0, 8192}, {8192, 8192}, {16384, 0}}));
    EXPECT_EQ(Disk(0)->GetTestState(), 2u);
}

TEST_F(CommandTestsTest, DownloadsOfMissingOrOversizedFilesAreRefusedAndFail)
{
    StartMachine(R"([{"target": 0, "blocks": 1000}])");
    auto one = Addresses({0});
    const std::string absent = (m_Dir / "absent.bin").string();
    // One byte more than the 24-bit offset and length of WRITE BUFFER carry.
    const std::string huge = (m_Dir / "huge.bin").string();
    {
        std::ofstream file(huge, std::ios::binary);
        file.seekp(0x1000000);
        file.put(0);
    }
    CCmdSegFirmwareDnldTest seg(&one, 1, 0, 7);
    CCmdIBMFirmwareDnldTest ibm(&one, 1, 0, 7);
    CCmdNonSegFirmwareDnldTest whole(&one, 1, 0, 7);
    for (CCmdFirmwareDnldTest* test : std::initializer_list<CCmdFirmwareDnldTest*>{&seg, &ibm, &whole}) {
        EXPECT_EQ(test->StartTest(std::string()), ERR_INVALID_PARAM);
        EXPECT_EQ(test->StartTest(absent), ERR_TEST_18);
        EXPECT_EQ(test->StartTest(huge), ERR_TEST_18);
    }

    // A file gone between StartTest and the run: nothing is sent and the drive fails.
    for (CCmdFirmwareDnldTest* test : std::initializer_list<CCmdFirmwareDnldTest*>{&seg, &ibm, &whole}) {
        ClearSeen();
        const std::string path = WriteImage(20000);
        ASSERT_EQ(test->StartTest(path), ERR_NONE);
        std::filesystem::remove(path);
        const Outcome outcome = RunToEnd(*test);
        ASSERT_EQ(outcome.texts.size(), 1u);
        EXPECT_NE(outcome.texts[0].find("\nCannot read the firmware file " + path), std::string::npos);
        EXPECT_EQ(outcome.codes, (std::vector<Error_t>{ERR_TEST_18}));
        EXPECT_EQ(WriteBuffers(Seen(0)), Chunks{});
        EXPECT_EQ(Disk(0)->GetTestState(), 4u);
    }
}

TEST_F(CommandTestsTest, TwoWholeFileDownloadsAtOnceSendEachItsOwnImage)
{
    // Slow drives keep both downloads under way at the same time.
    StartMachine(R"([{"target": 0, "blocks": 1000, "durations": {"command": 2}},
                     {"target": 1, "blocks": 1000, "durations": {"command": 2}}])");
    auto first = Addresses({0});
    auto second = Addresses({1});
    CCmdNonSegFirmwareDnldTest one(&first, 1, 0, 7);
    CCmdNonSegFirmwareDnldTest other(&second, 1, 0, 7);
    ASSERT_EQ(one.StartTest(WriteImage(20000, "K301")), ERR_NONE);
    ASSERT_EQ(other.StartTest(WriteImage(20000, "K302")), ERR_NONE);
    Outcome firstOutcome;
    std::thread running([&] { firstOutcome = RunToEnd(one); });
    // The first download's thread is under way once its image reaches the drive.
    while (Seen(0).Count(kWriteBuffer) == 0) {
        std::this_thread::yield();
    }
    EXPECT_EQ(RunToEnd(other).texts, kNoEvents);
    running.join();
    EXPECT_EQ(firstOutcome.texts, kNoEvents);
    const auto revision = [&](int target) {
        for (const SeenCommand& command : Seen(target).All()) {
            if (command.Opcode() == kWriteBuffer) {
                return std::string(command.dataOut.begin() + 4, command.dataOut.begin() + 8);
            }
        }
        return std::string();
    };
    EXPECT_EQ(revision(0), "K301");
    EXPECT_EQ(revision(1), "K302");
}

TEST_F(CommandTestsTest, IbmAndWholeFileDownloads)
{
    StartMachine(R"([{"target": 0, "blocks": 1000}])");
    auto one = Addresses({0});
    CCmdIBMFirmwareDnldTest ibm(&one, 1, 0, 7);
    ASSERT_EQ(ibm.StartTest(WriteImage(40000)), ERR_NONE);
    EXPECT_EQ(RunToEnd(ibm).texts, kNoEvents);
    EXPECT_EQ(WriteBuffers(Seen(0)), (Chunks{{0, 32768}, {32768, 7232}}));

    ClearSeen();
    CCmdNonSegFirmwareDnldTest whole(&one, 1, 0, 7);
    EXPECT_EQ(whole.StartTest((m_Dir / "absent.bin").string()), ERR_TEST_18);
    ASSERT_EQ(whole.StartTest(WriteImage(20000)), ERR_NONE);
    EXPECT_EQ(RunToEnd(whole).texts, kNoEvents);
    EXPECT_EQ(WriteBuffers(Seen(0)), (Chunks{{0, 20000}}));
}

TEST_F(CommandTestsTest, FormatDescribesTheInitializationPattern)
{
    StartMachine(R"([{"target": 0, "blocks": 1000, "durations": {"format": 0.01}}])");
    auto* user = new AlignedBuffer(64);
    std::memset(user->Ptr(), 0x6B, 64);
    CBufferPatternSystem::Instance()->SetPattern(5, PatternUser, user, 64);
    auto one = Addresses({0});
    const format_struct format{0x10, 4, 999};
    CCmdDiskFormatTest withPattern(&one, 1, format, 0x00008800u, 0x00000002u, 5, 1);
    ASSERT_EQ(withPattern.StartTest(), ERR_NONE);
    RunToEnd(withPattern);
    auto sent = Seen(0).All();
    auto formats = std::count_if(sent.begin(), sent.end(), [](const SeenCommand& c) { return c.Opcode() == kFormatUnit; });
    ASSERT_EQ(formats, 1);
    const SeenCommand& first = *std::find_if(sent.begin(), sent.end(),
                                             [](const SeenCommand& c) { return c.Opcode() == kFormatUnit; });
    EXPECT_EQ(first.cdb[1], 0x10);
    ASSERT_GE(first.dataOut.size(), 12u);
    EXPECT_EQ(std::vector<std::uint8_t>(first.dataOut.begin(), first.dataOut.begin() + 12),
              (std::vector<std::uint8_t>{0x00, 0x88, 0x00, 0x00, 0x02, 0x01, 0x00, 0x40, 0x6B, 0x6B, 0x6B, 0x6B}));

    // The pattern starts right after the descriptor, with its own first byte.
    ClearSeen();
    auto* distinct = new AlignedBuffer(16);
    for (unsigned char i = 0; i < 16; ++i) {
        static_cast<unsigned char*>(distinct->Ptr())[i] = static_cast<unsigned char>(0x10 + i);
    }
    CBufferPatternSystem::Instance()->SetPattern(6, PatternUser, distinct, 16);
    CCmdDiskFormatTest ordered(&one, 1, format, 0x00000800u, 0, 6, 1);
    RunToEnd(ordered);
    sent = Seen(0).All();
    const auto withDistinct =
        std::find_if(sent.begin(), sent.end(), [](const SeenCommand& c) { return c.Opcode() == kFormatUnit; });
    ASSERT_NE(withDistinct, sent.end());
    EXPECT_EQ(withDistinct->dataOut, (std::vector<std::uint8_t>{0x00, 0x08, 0x00, 0x00, 0x00, 0x01, 0x00, 0x10, 0x10,
                                                                0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17}));

    // Without the IP bit the client's pattern length is not sent.
    ClearSeen();
    CCmdDiskFormatTest plain(&one, 1, format, 0x00000200u, 0, 5, 1);
    RunToEnd(plain);
    sent = Seen(0).All();
    const auto second = std::find_if(sent.begin(), sent.end(), [](const SeenCommand& c) { return c.Opcode() == kFormatUnit; });
    ASSERT_NE(second, sent.end());
    EXPECT_EQ(second->dataOut, (std::vector<std::uint8_t>{0x00, 0x02, 0x00, 0x00}));
}

TEST_F(CommandTestsTest, UserCdbRunsOncePerThreadAndItsDataIsInTheBuffers)
{
    StartMachine(R"([{"target": 0, "blocks": 1000}, {"target": 1, "blocks": 1000}])");
    SCSI_Cdb_UserDef16Byte_s inquiry{};
    inquiry.Cdb[0] = 0x12;
    inquiry.Cdb[4] = 36;
    inquiry.CdbLength = 6;
    inquiry.Flags = 0x08;
    inquiry.DataLength = 36;
    inquiry.Timeout = 30;
    auto both = Addresses({0, 1});
    CCmdUserDefCDBTest test(&both, 2, 0, 2, 2);
    EXPECT_EQ(test.StartTest(nullptr), ERR_INVALID_PARAM);
    ASSERT_EQ(test.StartTest(&inquiry), ERR_NONE);
    EXPECT_EQ(RunToEnd(test).texts, kNoEvents);
    EXPECT_EQ(Seen(0).Count(0x12), 2u);
    EXPECT_EQ(Seen(1).Count(0x12), 2u);

    CTestBufferAccess access(&test);
    EXPECT_EQ(access.GetNumBuffers(), 4);
    AlignedBuffer* buffer = access.GetNextBuffer();
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(buffer->Ptr()) + 8, 7), "KESTREL");
    int ha = -1, target = -1, lun = -1, thread = -1;
    access.GetCurrentThread(ha, target, lun, thread);
    EXPECT_EQ((std::vector<int>{ha, target, lun, thread}), (std::vector<int>{0, 0, 0, 0}));
    access.GetNextBuffer();
    access.GetNextBuffer();
    EXPECT_EQ(access.GetNextBuffer(), access.GetNextBuffer());
    access.GetCurrentThread(ha, target, lun, thread);
    EXPECT_EQ((std::vector<int>{ha, target, lun, thread}), (std::vector<int>{0, 1, 0, 1}));

    // A command the drive refuses is the client's to read.
    SCSI_Cdb_UserDef16Byte_s unknown{};
    unknown.Cdb[0] = 0xFF;
    unknown.CdbLength = 6;
    unknown.Timeout = 30;
    auto one = Addresses({1});
    CCmdUserDefCDBTest refused(&one, 1, 0, 1, 0);
    ASSERT_EQ(refused.StartTest(&unknown), ERR_NONE);
    const Outcome outcome = RunToEnd(refused);
    EXPECT_EQ(outcome.texts.size(), 1u);
    EXPECT_EQ(Disk(1)->GetTestState(), 4u);
}

}  // namespace
}  // namespace engine_test
