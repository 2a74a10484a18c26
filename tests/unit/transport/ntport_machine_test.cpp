#include "TransportFixture.h"

#include "core/types/CEventError.h"

#include <memory>

namespace transport_test {
namespace {

// A disk the disk class driver claims, on the second bus, with a bad block.
constexpr const char* kMachine = R"({"name": "transport", "ports": [{"driver": "aic78xx", "buses": 2, "units": [
    {"bus": 1, "target": 4, "blocks": 4096, "faults": {"mediumErrors": [200]}},
    {"bus": 0, "target": 2, "blocks": 4096, "claimed": false}]}]})";

using NTPortMachineTest = TransportFixture;

TEST_F(NTPortMachineTest, CommandsReachSimulatedDrives)
{
    StartMachineFile(kMachine);
    SCSI_NTPortIoCtl claimed(CDevAddress(0, 20, 0, -1, -1, -1), 0);
    SCSI_NTPortIoCtl unclaimed(CDevAddress(0, 2, 0, -1, -1, -1), 0);
    ASSERT_EQ(claimed.GetStatus(), ERR_NONE);
    ASSERT_EQ(unclaimed.GetStatus(), ERR_NONE);
    EXPECT_EQ(Issue(claimed, {0x00, 0, 0, 0, 0, 0}), ERR_CMD_COMPLETE);
    EXPECT_EQ(Issue(unclaimed, {0x00, 0, 0, 0, 0, 0}), ERR_CMD_COMPLETE);

    std::vector<BYTE> data(8 * 512, 0xAA);
    EXPECT_EQ(Issue(claimed, {0x2A, 0, 0, 0, 0, 16, 0, 0, 8, 0}, data.data(), 4096, 0x10, 16, 8), ERR_CMD_COMPLETE);
    std::vector<BYTE> back(8 * 512);
    EXPECT_EQ(Issue(claimed, {0x28, 0, 0, 0, 0, 16, 0, 0, 8, 0}, back.data(), 4096, 0x08, 16, 8), ERR_CMD_COMPLETE);
    EXPECT_EQ(back, data);
    PerfData_t perf{};
    claimed.GetPerfCounters(&perf);
    EXPECT_EQ(perf.BlocksRead, 8u);
    EXPECT_EQ(perf.BlocksWritten, 8u);

    EXPECT_EQ(Issue(claimed, {0x28, 0, 0, 0, 0, 200, 0, 0, 1, 0}, back.data(), 512, 0x08, 200, 1),
              ERR_DRIVER_FAILURE);
    std::unique_ptr<CEventBase> event(claimed.GetErrorEvent());
    auto* error = dynamic_cast<CEventError*>(event.get());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->GetErrorCode(), ERR_CHECK_CONDITION);
    EXPECT_EQ(error->GetSenseKey(), 0x03);
    EXPECT_EQ(error->GetASC(), 0x11);
    EXPECT_EQ(error->GetTargetStatus(), 0x02);
    EXPECT_EQ(claimed.GetSenseData()->InformationValue(), 200);
}

}  // namespace
}  // namespace transport_test
