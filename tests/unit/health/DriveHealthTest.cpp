// The health report read from simulated drives through the whole command path.
#include "core/system/CComputerSystem.h"
#include "frontend/CommandRoutine.h"
#include "frontend/DriveHealth.h"
#include "frontend/HealthText.h"
#include "frontend/InitSystem.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* kMachine = R"({"name": "health-unit", "ports": [{"port": 0, "driver": "aic78xx",
  "deviceName": "AIC-7899", "units": [
    {"target": 0, "serial": "UA000000", "blocks": 4096, "faults": {"predictedFailure": true}},
    {"target": 1, "vendor": "MERIDIAN", "product": "MD3600LW", "serial": "OK000001", "blocks": 4096}]}]})";

class DriveHealthTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_home = test_support::MakeTestHome("health");
        std::ofstream(m_home / "registry.reg")
            << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Kestrel\\Harrow Viraradiza\\Options]\n"
               "\"CommandPauseMs\"=dword:00000000\n\n";
        Start();
    }
    void TearDown() override
    {
        CComputerSystem::Destroy();
        test_support::LeaveTestHome(m_home);
    }
    // A new start of the machine: the drives keep their state.
    void Start()
    {
        test_support::UseMachineFile(m_home, kMachine);
        ASSERT_TRUE(InitSystem("Harrow Viraradiza"));
    }
    void Restart()
    {
        CComputerSystem::Destroy();
        Start();
    }

    static DeviceRecord At(int target)
    {
        DeviceRecord record;
        record.hostAdapter = 0;
        record.target = target;
        record.lun = 0;
        return record;
    }

    std::filesystem::path m_home;
};

TEST_F(DriveHealthTest, ExceptionOfTheModePageIsTheVerdictWhateverTheStartDidWithIt)
{
    // MRIE 2, saved: the start's own probing takes the unit attention; the IE page still tells.
    std::vector<std::uint8_t> list{0, 0, 0, 0, 0x1C, 0x0A, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(SendCdb(At(0), cdb::ModeSelect6(16, true, true), list.data(), 16, 30).Good());
    Restart();
    const HealthReport report = ReadDriveHealth(At(0));
    EXPECT_EQ(report.supportedOutcome.state, PageOutcome::READ);
    EXPECT_EQ(HealthBits(report), health_bit::kPredictedFailure);
    EXPECT_EQ(HealthVerdict(report), "SCSI health: FAILED: failure predicted (ASC/ASCQ 5Dh/10h)");
}

TEST_F(DriveHealthTest, HealthyDriveReadsEveryPageItLists)
{
    const HealthReport report = ReadDriveHealth(At(1));
    EXPECT_EQ(report.serial, "OK000001");
    EXPECT_EQ(report.supported, (std::vector<int>{0x00, 0x02, 0x03, 0x05, 0x06, 0x0D, 0x0E, 0x10, 0x15, 0x18, 0x2F}));
    EXPECT_EQ(report.pages.size(), 10u);
    for (const auto& [code, outcome] : report.pages) {
        EXPECT_EQ(outcome.state, PageOutcome::READ) << code;
        EXPECT_FALSE(outcome.cut) << code;
    }
    EXPECT_FALSE(report.reportedException);
    EXPECT_EQ(report.grownDefects, 0u);
    EXPECT_EQ(HealthVerdict(report), "SCSI health: OK");
    const HealthReport absent = ReadDriveHealth(At(5));
    EXPECT_FALSE(absent.reached);
    EXPECT_EQ(HealthBits(absent), health_bit::kUnreachable);
}

}  // namespace
