// The data tests over every way of reaching a drive: the NT port one command
// at a time or with several blocks in flight, the Nox driver with tagged
// blocks in flight or with polled blocks of two threads, and ASPI with
// several blocks in flight. A verdict must not depend on the way.
#include "EngineFixture.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/system/CComputerSystem.h"
#include "core/tests/CBufferPatternSystem.h"
#include "core/tests/DiskRanTests.h"
#include "core/tests/DiskSeqTests.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace engine_test {
namespace {

struct Way {
    const char* name;
    Driver_t transport;
    int cmdBlocks;
    long threads;
};

const Way kWays[] = {
    {"NtPort", DRV_NTPORT, 0, 1},
    {"NtPortFourBlocks", DRV_NTPORT, 4, 1},
    {"NoxFourBlocks", DRV_NOX, 4, 1},
    {"NoxTwoThreadsPolled", DRV_NOX, 1, 2},
    {"AspiFourBlocks", DRV_ASPI, 4, 1},
};

constexpr int kAA = 1;
constexpr int kNumbers = 2;
// Slow enough that several commands really are under way at once.
constexpr const char* kDisk = R"([{"target": 0, "blocks": 2000, "durations": {"command": 0.2}}])";

class OverTransports : public EngineFixture, public ::testing::WithParamInterface<Way> {
protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        m_Transport = GetParam().transport;
    }

    void Patterns()
    {
        CBufferPatternSystem::Instance()->SetPattern(kAA, PatternAA, nullptr, 0);
        CBufferPatternSystem::Instance()->SetPattern(kNumbers, PatternBlockNumbers, nullptr, 0);
        CBufferPatternSystem::SetDataCompare(true);
    }

    template <class Test>
    Outcome Run(int slot, unsigned long start, unsigned long end, long blocks, long threads = 0)
    {
        auto one = Addresses({0});
        Test test(&one, 1, slot, threads != 0 ? threads : GetParam().threads, GetParam().cmdBlocks);
        EXPECT_EQ(test.StartTest(start, end, 0, blocks, 0), ERR_NONE);
        return RunToEnd(test);
    }

    // One block as the drive holds it, read one command at a time on block 0.
    std::vector<unsigned char> Block(unsigned long lba)
    {
        AlignedBuffer data(512);
        EXPECT_EQ(Disk(0)->Read(0, lba, 1, &data, 0, 0, 0), ERR_NONE);
        const auto* bytes = static_cast<const unsigned char*>(data.Ptr());
        return {bytes, bytes + 512};
    }

    void PutBlock(unsigned long lba, const std::vector<unsigned char>& bytes)
    {
        AlignedBuffer data(512);
        std::memcpy(data.Ptr(), bytes.data(), 512);
        ASSERT_EQ(Disk(0)->Write(0, lba, 1, &data, 0, 0, 0), ERR_NONE);
    }
};

std::string Way_Name(const ::testing::TestParamInfo<Way>& info)
{
    return info.param.name;
}

TEST_P(OverTransports, DataWrittenReadsBackCleanAndEachWriteCarriesItsOwnBlockNumbers)
{
    StartMachine(kDisk);
    Patterns();
    EXPECT_EQ(Run<CDiskSeqWriteTest>(kNumbers, 0, 256, 8).texts, kNoEvents);
    for (unsigned long lba : {0ul, 7ul, 8ul, 37ul, 128ul, 255ul}) {
        const auto bytes = Block(lba);
        for (std::size_t word = 0; word < 128; ++word) {
            ASSERT_EQ((bytes[word * 4 + 2] << 8) | bytes[word * 4 + 3], static_cast<int>(lba))
                << "block " << lba << " word " << word;
        }
    }
    EXPECT_EQ(Run<CDiskSeqReadTest>(kNumbers, 0, 256, 8).texts, kNoEvents);
    EXPECT_EQ(Disk(0)->GetTestState(), CTestBase::kTestStatePassed);

    EXPECT_EQ(Run<CDiskSeqWriteTest>(kAA, 0, 256, 8).texts, kNoEvents);
    EXPECT_EQ(Run<CDiskSeqReadTest>(kAA, 0, 256, 8).texts, kNoEvents);
    EXPECT_EQ(Run<CDiskSeqWriteReadTest>(kNumbers, 300, 556, 8).texts, kNoEvents);
    EXPECT_EQ(Disk(0)->GetTestState(), CTestBase::kTestStatePassed);
}

TEST_P(OverTransports, APlantedMismatchIsFoundEveryTime)
{
    StartMachine(kDisk);
    Patterns();
    EXPECT_EQ(Run<CDiskSeqWriteTest>(kAA, 0, 256, 8).texts, kNoEvents);
    auto bytes = Block(37);
    bytes[5] = 0x55;
    PutBlock(37, bytes);
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(Run<CDiskSeqReadTest>(kAA, 0, 256, 8).texts,
                  (std::vector<std::string>{"DATA COMPARE ERROR: Device 0:0:0 at block 37, byte 5: "
                                            "Expected 0xAA, Actual 0x55"}))
            << "round " << round;
        EXPECT_EQ(Disk(0)->GetTestState(), CTestBase::kTestStateFailed);
    }
}

TEST_P(OverTransports, AMediumErrorAmongTheLastCommandsFailsTheDrive)
{
    StartMachine(R"([{"target": 0, "blocks": 2000, "durations": {"command": 0.2}, "faults": {"mediumErrors": [250]}}])");
    const Outcome outcome = Run<CDiskSeqReadTest>(0, 0, 256, 8);
    ASSERT_EQ(outcome.texts.size(), 1u);
    EXPECT_NE(outcome.texts[0].find("Sense Key = 03"), std::string::npos) << outcome.texts[0];
    EXPECT_EQ(Disk(0)->GetTestState(), CTestBase::kTestStateFailed);
}

TEST_P(OverTransports, WritesStayInsideTheirRange)
{
    // Small blocks, so 200 of them fit the heap's largest buffer.
    StartMachine(R"([{"target": 0, "blocks": 2000, "blockSize": 256}])");
    Patterns();
    const auto highest = [&] {
        std::uint32_t top = 0;
        for (const auto& [lba, blocks] : Seen(0).Transfers(kWrite10)) {
            top = std::max(top, lba + blocks);
        }
        return top;
    };
    const auto written = [&] {
        std::uint32_t total = 0;
        for (const auto& [lba, blocks] : Seen(0).Transfers(kWrite10)) {
            total += blocks;
        }
        return total;
    };
    // One transfer larger than the range: it is cut to the range.
    EXPECT_EQ(Run<CDiskSeqWriteTest>(kNumbers, 0, 100, 200, 1).texts, kNoEvents);
    EXPECT_EQ(Seen(0).Transfers(kWrite10), (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0, 100}}));

    // Two threads of 50 blocks each at 64 blocks a transfer.
    ClearSeen();
    EXPECT_EQ(Run<CDiskSeqWriteTest>(kNumbers, 0, 100, 64, 2).texts, kNoEvents);
    EXPECT_EQ(highest(), 100u);
    EXPECT_EQ(written(), 100u);

    ClearSeen();
    EXPECT_EQ(Run<CDiskSeqWriteReadTest>(kNumbers, 0, 100, 200, 1).texts, kNoEvents);
    EXPECT_EQ(Seen(0).Transfers(kWrite10), (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0, 100}}));
    EXPECT_EQ(Seen(0).Transfers(kRead10), (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{0, 100}}));

    // An empty range writes nothing.
    ClearSeen();
    EXPECT_EQ(Run<CDiskSeqWriteTest>(kNumbers, 1000, 1000, 16, 1).texts, kNoEvents);
    EXPECT_EQ(Seen(0).Count(kWrite10), 0u);
    EXPECT_EQ(Disk(0)->GetTestState(), CTestBase::kTestStatePassed);
}

TEST_P(OverTransports, RandomWriteReadReadsOnlyBlocksItWrote)
{
    StartMachine(kDisk);
    Patterns();
    CComputerSystem::Instance()->SetRandSeed(4321);
    auto one = Addresses({0});
    const auto check = [&](long opCount, long timeLimit) {
        ClearSeen();
        CDiskRanWriteReadTest test(&one, 1, kNumbers, GetParam().threads, GetParam().cmdBlocks);
        ASSERT_EQ(test.StartTest(0, 1000, opCount, 16, timeLimit), ERR_NONE);
        EXPECT_EQ(RunToEnd(test).texts, kNoEvents) << opCount << " operations, " << timeLimit << " s";
        std::multiset<std::uint32_t> writes;
        for (const auto& [lba, blocks] : Seen(0).Transfers(kWrite10)) {
            writes.insert(lba);
        }
        const auto reads = Seen(0).Transfers(kRead10);
        EXPECT_GE(reads.size(), 1u);
        EXPECT_LE(reads.size(), writes.size());
        for (const auto& [lba, blocks] : reads) {
            EXPECT_GE(writes.count(lba), 1u) << "read at " << lba << " never written";
        }
    };
    check(3, 0);
    check(7, 0);
    // A limit of one simulated second: it switches to reading after the first write.
    check(0, 1);
}

TEST_P(OverTransports, WriteReadProgressReachesTheTopOfItsRange)
{
    StartMachine(kDisk);
    Patterns();
    auto one = Addresses({0});
    CDiskSeqWriteReadTest test(&one, 1, kNumbers, 2, GetParam().cmdBlocks);
    ASSERT_EQ(test.StartTest(0, 100, 0, 10, 0), ERR_NONE);
    EXPECT_EQ(RunToEnd(test).texts, kNoEvents);
    long low = -1;
    long high = -1;
    test.GetProgressRange(low, high);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 100);
    EXPECT_EQ(test.GetProgress(), high);
}

INSTANTIATE_TEST_SUITE_P(Ways, OverTransports, ::testing::ValuesIn(kWays), Way_Name);

}  // namespace
}  // namespace engine_test
