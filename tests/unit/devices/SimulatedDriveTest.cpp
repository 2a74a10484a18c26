// Devices over the NT port transport on a simulated machine: identity from
// real drive answers, raw commands, and performance handed to the device.
#include "DeviceTestSupport.h"

#include "core/buffers/AlignedBuffer.h"

#include <cstring>

namespace devices_test {
namespace {

constexpr const char* kMachine = R"({
  "name": "devices",
  "ports": [{
    "driver": "aic78xx",
    "units": [
      {"target": 0}
    ]
  }]
})";

class SimulatedDrive : public DeviceFixture {
protected:
    void SetUp() override
    {
        DeviceFixture::SetUp();
        UseMachine(kMachine);
    }
    std::unique_ptr<TestDevice> Make(int target)
    {
        auto device = std::make_unique<TestDevice>(&m_Adapter, 0, target, 0);
        device->AllocateResource();
        return device;
    }

    FakeAdapter m_Adapter{0, true};
};

TEST_F(SimulatedDrive, PerformanceIsHandedToTheDeviceAndAlarmsTrip)
{
    auto drive = Make(0);
    ASSERT_EQ(drive->Init(), ERR_NONE);
    drive->SetBlockLength(512);
    ASSERT_EQ(drive->SetIoCtlBlocks(1), 1UL);

    AlignedBuffer data(64 * 512);
    ScsiCommand read(10, 30);  // READ(10) of 64 blocks at LBA 100
    read.Cdb[0] = 0x28;
    read.Put32(2, 100);
    read.Put16(7, 64);
    read.Transfer(&data, data.Size(), ScsiCommand::kDataIn);
    read.Lba = 100;
    read.Blocks = 64;
    ASSERT_EQ(drive->RunCommand(drive->GetCtlBlock(1), read), ERR_NONE);
    ASSERT_EQ(drive->RunCommand(drive->GetCtlBlock(1), read), ERR_NONE);
    // Block 0 is not counted while other blocks exist.
    ASSERT_EQ(drive->RunCommand(drive->GetCtlBlock(0), read), ERR_NONE);

    drive->SetReadPerfAlarm(1e12f, PerfAlarmAverage);
    drive->SetWritePerfAlarm(1e12f, PerfAlarmAverage);
    EXPECT_FALSE(drive->ReadPerformanceAlarmTripped());  // no data handed over yet
    drive->UpdatePerformance();
    const CPerformanceData* performance = drive->GetPerformance();
    EXPECT_EQ(performance->GetTotalReadBlocks(), 128);
    EXPECT_EQ(performance->GetReadBlock(), 100UL);
    EXPECT_GT(performance->GetAvgReadRate(), 0.0f);
    EXPECT_GT(performance->GetReadSeconds(), 0.0f);
    EXPECT_TRUE(drive->ReadPerformanceAlarmTripped());
    EXPECT_FALSE(drive->WritePerformanceAlarmTripped());

    // The block's counters were cleared by the hand-over.
    PerfData_t counters{};
    drive->GetCtlBlock(1)->GetPerfCounters(&counters);
    EXPECT_EQ(counters.BlocksRead, 0U);
    drive->UpdatePerformance();
    EXPECT_EQ(performance->GetTotalReadBlocks(), 128);

    // With block 0 alone, block 0 is what counts.
    ASSERT_EQ(drive->ClearIoCtlBlocks(1), ERR_NONE);
    drive->ClearAllCtlBlockPerf();
    ASSERT_EQ(drive->RunCommand(drive->GetCtlBlock(0), read), ERR_NONE);
    drive->UpdatePerformance();
    EXPECT_EQ(performance->GetTotalReadBlocks(), 192);
}

}  // namespace
}  // namespace devices_test
