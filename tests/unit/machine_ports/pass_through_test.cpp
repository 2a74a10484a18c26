#include "FakeUnit.h"

#include "machine/SimulatedMachine.h"
#include "platform/ntddscsi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>

using namespace harrow::machine;
using harrow::machine::testing::FakeFactory;
using harrow::platform::Device;

namespace {

const char* const kMachine = R"({"name": "p", "ports": [
  {"driver": "aic78xx", "units": [
    {"target": 0, "fakeType": 0},
    {"target": 1, "fakeType": 3, "busyInquiries": 1},
    {"target": 2, "silent": true}]}]})";

constexpr DWORD kSenseAt = sizeof(SCSI_PASS_THROUGH_DIRECT) + 4;

// The request block as a caller lays it out: the structure, then sense room.
struct Block {
    SCSI_PASS_THROUGH_DIRECT sptd;
    BYTE filler[4];
    BYTE sense[32];
};

class PassThroughTest : public ::testing::Test {
protected:
    PassThroughTest() : machine(ParseMachineText(kMachine, "p.json", "p"), "p.json", "/r", fakes.Factory())
    {
        Reset();
    }

    // A sound READ(10) of 512 bytes to target 0 with 32 bytes of sense room.
    void Reset()
    {
        std::memset(&block, 0xEE, sizeof block);
        block.sptd = {};
        block.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
        block.sptd.CdbLength = 10;
        block.sptd.SenseInfoLength = sizeof block.sense;
        block.sptd.DataIn = SCSI_IOCTL_DATA_IN;
        block.sptd.DataTransferLength = sizeof data;
        block.sptd.TimeOutValue = 30;
        block.sptd.DataBuffer = data;
        block.sptd.SenseInfoOffset = kSenseAt;
        block.sptd.Cdb[0] = 0x28;
        std::memset(data, 0, sizeof data);
    }

    BOOL Send(const char* name, DWORD* error, DWORD inSize = sizeof(Block), DWORD outSize = sizeof(Block))
    {
        DWORD status = 0;
        auto device = machine.Open(name, 0, &status);
        EXPECT_TRUE(device);
        returned = 12345;
        return device->IoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT, &block, inSize, &block, outSize, &returned, error);
    }

    std::shared_ptr<harrow::machine::testing::FakeScript> Unit(int index)
    {
        return fakes.Script("ports[0].units[" + std::to_string(index) + "]");
    }

    FakeFactory fakes;
    SimulatedMachine machine;
    Block block{};
    BYTE data[512];
    DWORD returned = 0;
};

}  // namespace

TEST_F(PassThroughTest, RefusesUnsoundRequestsWithoutReachingTheUnit)
{
    const std::pair<const char*, std::function<void(Block&, DWORD&, DWORD&)>> cases[] = {
        {"Length of the 32-bit structure", [](Block& b, DWORD&, DWORD&) { b.sptd.Length = 44; }},
        {"CdbLength 0", [](Block& b, DWORD&, DWORD&) { b.sptd.CdbLength = 0; }},
        {"CdbLength 17", [](Block& b, DWORD&, DWORD&) { b.sptd.CdbLength = 17; }},
        {"DataIn 3", [](Block& b, DWORD&, DWORD&) { b.sptd.DataIn = 3; }},
        {"null buffer with data", [](Block& b, DWORD&, DWORD&) { b.sptd.DataBuffer = nullptr; }},
        {"transfer too long", [](Block& b, DWORD&, DWORD&) { b.sptd.DataTransferLength = kMaxTransferLength + 1; }},
        {"time-out 0", [](Block& b, DWORD&, DWORD&) { b.sptd.TimeOutValue = 0; }},
        {"time-out above 30 hours", [](Block& b, DWORD&, DWORD&) { b.sptd.TimeOutValue = 108001; }},
        {"sense past the buffer", [](Block& b, DWORD&, DWORD&) { b.sptd.SenseInfoLength = 33; }},
        {"sense offset wraps", [](Block& b, DWORD&, DWORD&) { b.sptd.SenseInfoOffset = 0xFFFFFFF0; }},
        {"sense over the structure", [](Block& b, DWORD&, DWORD&) { b.sptd.SenseInfoOffset = 8; }},
        {"short input", [](Block&, DWORD& in, DWORD&) { in = sizeof(SCSI_PASS_THROUGH_DIRECT) - 1; }},
        {"short output", [](Block&, DWORD&, DWORD& out) { out = sizeof(SCSI_PASS_THROUGH_DIRECT) - 1; }},
        {"output too short for the sense", [](Block&, DWORD&, DWORD& out) { out = kSenseAt + 31; }},
        {"no such bus", [](Block& b, DWORD&, DWORD&) { b.sptd.PathId = 1; }},
        {"no such target id", [](Block& b, DWORD&, DWORD&) { b.sptd.TargetId = 16; }},
        {"no such lun", [](Block& b, DWORD&, DWORD&) { b.sptd.Lun = 8; }},
    };
    for (const auto& [what, spoil] : cases) {
        SCOPED_TRACE(what);
        Reset();
        DWORD in = sizeof(Block);
        DWORD out = sizeof(Block);
        spoil(block, in, out);
        DWORD error = 0;
        EXPECT_FALSE(Send("SCSI0:", &error, in, out));
        EXPECT_EQ(error, ERROR_INVALID_PARAMETER);
        EXPECT_EQ(returned, 0u);
        EXPECT_TRUE(Unit(0)->lastCdb.empty());
    }
    DWORD error = 0;
    EXPECT_FALSE(machine.Open("PhysicalDrive0", 0, &error)
                     ->IoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT, nullptr, 0, nullptr, 0, &returned, &error));
    EXPECT_EQ(error, ERROR_INVALID_PARAMETER);
}

TEST_F(PassThroughTest, ReportsResidualStatusAndSenseInPlace)
{
    auto unit = Unit(0);
    unit->answer.status = 0x02;
    unit->answer.transferred = 100;
    const std::uint8_t sense[18] = {0x70, 0, 0x03, 0, 0, 0x10, 0, 10, 0, 0, 0, 0, 0x11, 0x00};
    std::memcpy(unit->answer.sense.data(), sense, sizeof sense);
    unit->answer.senseLength = sizeof sense;

    DWORD error = 0;
    ASSERT_TRUE(Send("SCSI0:", &error));
    EXPECT_EQ(unit->lastCdb.size(), 10u);
    EXPECT_EQ(unit->lastDirection, DataDirection::In);
    EXPECT_EQ(unit->lastDataSize, sizeof data);
    EXPECT_EQ(block.sptd.ScsiStatus, 0x02);
    EXPECT_EQ(block.sptd.DataTransferLength, 100u);
    EXPECT_EQ(block.sptd.SenseInfoLength, 18);
    EXPECT_EQ(block.sptd.SenseInfoOffset, kSenseAt);
    EXPECT_EQ(std::memcmp(block.sense, sense, sizeof sense), 0);
    EXPECT_EQ(block.sense[18], 0xEE) << "bytes past the sense stay as they were";
    EXPECT_EQ(block.filler[0], 0xEE);
    EXPECT_EQ(returned, kSenseAt + 18);
    EXPECT_EQ(data[99], 0xA5);
    EXPECT_EQ(data[100], 0);

    // Fewer sense bytes asked for than the unit has: cut, and said so.
    block.sptd.SenseInfoLength = 8;
    block.sptd.DataTransferLength = sizeof data;
    std::memset(block.sense, 0xEE, sizeof block.sense);
    ASSERT_TRUE(Send("SCSI0:", &error));
    EXPECT_EQ(block.sptd.SenseInfoLength, 8);
    EXPECT_EQ(block.sense[7], sense[7]);
    EXPECT_EQ(block.sense[8], 0xEE);

    // GOOD status: no sense, the whole transfer, a unit claiming too much is cut.
    unit->answer.status = 0;
    unit->answer.transferred = 4096;
    block.sptd.SenseInfoLength = 32;
    block.sptd.DataTransferLength = sizeof data;
    ASSERT_TRUE(Send("SCSI0:", &error));
    EXPECT_EQ(block.sptd.ScsiStatus, 0);
    EXPECT_EQ(block.sptd.SenseInfoLength, 0);
    EXPECT_EQ(block.sptd.DataTransferLength, sizeof data);
    EXPECT_EQ(returned, sizeof(SCSI_PASS_THROUGH_DIRECT));
}

TEST_F(PassThroughTest, DirectionsAndCommandsWithoutData)
{
    auto unit = Unit(0);
    DWORD error = 0;
    block.sptd.DataIn = SCSI_IOCTL_DATA_OUT;
    ASSERT_TRUE(Send("SCSI0:", &error));
    EXPECT_EQ(unit->lastDirection, DataDirection::Out);

    block.sptd.DataIn = SCSI_IOCTL_DATA_UNSPECIFIED;
    block.sptd.DataTransferLength = 0;
    block.sptd.DataBuffer = nullptr;
    block.sptd.CdbLength = 6;
    block.sptd.Cdb[0] = 0x00;
    ASSERT_TRUE(Send("SCSI0:", &error));
    EXPECT_EQ(unit->lastDirection, DataDirection::None);
    EXPECT_EQ(unit->lastDataSize, 0u);
    EXPECT_EQ(unit->lastCdb, (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0}));
}

TEST_F(PassThroughTest, SelectionTimeOutAndBusy)
{
    DWORD error = 0;
    for (UCHAR target : {2, 5}) {  // a unit that never answers, an empty target
        block.sptd.TargetId = target;
        const Block before = block;
        EXPECT_FALSE(Send("SCSI0:", &error));
        EXPECT_EQ(error, ERROR_SEM_TIMEOUT);
        EXPECT_EQ(returned, 0u);
        EXPECT_EQ(std::memcmp(&before, &block, sizeof block), 0) << "a failed request leaves the block alone";
    }

    block.sptd.TargetId = 0;
    Unit(0)->answer.outcome = PortOutcome::Busy;
    Unit(0)->answer.transferred = 512;
    ASSERT_TRUE(Send("SCSI0:", &error));
    EXPECT_EQ(block.sptd.ScsiStatus, 0x08);
    EXPECT_EQ(block.sptd.DataTransferLength, 0u);
    EXPECT_EQ(block.sptd.SenseInfoLength, 0);
}

TEST_F(PassThroughTest, TargetAnswersForLunsItDoesNotHave)
{
    DWORD error = 0;
    block.sptd.Lun = 3;
    block.sptd.CdbLength = 6;
    const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    std::memcpy(block.sptd.Cdb, inquiry, sizeof inquiry);
    ASSERT_TRUE(Send("SCSI0:", &error));
    EXPECT_EQ(block.sptd.ScsiStatus, 0);
    EXPECT_EQ(block.sptd.DataTransferLength, 36u);
    EXPECT_EQ(data[0], 0x7F);

    block.sptd.Cdb[0] = 0x00;
    block.sptd.DataTransferLength = 0;
    block.sptd.SenseInfoLength = sizeof block.sense;
    ASSERT_TRUE(Send("SCSI0:", &error));
    EXPECT_EQ(block.sptd.ScsiStatus, 0x02);
    ASSERT_EQ(block.sptd.SenseInfoLength, 18);
    EXPECT_EQ(block.sense[2], 0x05);
    EXPECT_EQ(block.sense[12], 0x25);
    EXPECT_TRUE(Unit(0)->lastCdb.empty());
}

TEST_F(PassThroughTest, ClassDeviceFillsInItsUnitsAddress)
{
    DWORD error = 0;
    block.sptd.PathId = 7;
    block.sptd.TargetId = 99;
    block.sptd.Lun = 5;
    ASSERT_TRUE(Send("PhysicalDrive0", &error));
    EXPECT_EQ(block.sptd.PathId, 0);
    EXPECT_EQ(block.sptd.TargetId, 0);
    EXPECT_EQ(block.sptd.Lun, 0);
    EXPECT_EQ(Unit(0)->lastCdb.size(), 10u);

    // The unit that was busy during the boot scan was retried and listed.
    block.sptd.TargetId = 1;
    EXPECT_TRUE(Send("SCSI0:", &error));
    EXPECT_EQ(Unit(1)->busyInquiries, 0);
    EXPECT_EQ(Unit(1)->lastCdb.size(), 10u);
}

TEST_F(PassThroughTest, OneCommandAtATimePerUnitAcrossHandles)
{
    constexpr int kThreads = 4;
    constexpr int kCommands = 200;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            DWORD error = 0;
            auto device = machine.Open(t % 2 ? "PhysicalDrive0" : "SCSI0:", 0, &error);
            for (int i = 0; i < kCommands; ++i) {
                Block own{};
                BYTE buffer[64];
                own.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
                own.sptd.CdbLength = 10;
                own.sptd.DataIn = SCSI_IOCTL_DATA_IN;
                own.sptd.DataTransferLength = sizeof buffer;
                own.sptd.DataBuffer = buffer;
                own.sptd.TimeOutValue = 30;
                DWORD returnedHere = 0;
                if (!device->IoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT, &own, sizeof own, &own, sizeof own,
                                       &returnedHere, &error)) {
                    ++failures;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, 0);
    EXPECT_FALSE(Unit(0)->overlapped);
}
