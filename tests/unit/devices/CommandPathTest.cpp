// The command path: unit-attention absorption and its limit, bus-reset delay,
// failures turned into events, error counting, silent mode and logging.
#include "DeviceTestSupport.h"

#include "core/log/CLogFile.h"
#include "core/system/CComputerSystem.h"
#include "core/types/CEventError.h"
#include "platform/Kernel.h"
#include "support/FileText.h"

#include <chrono>

namespace devices_test {
namespace {

class CommandPath : public ScriptedFixture {
protected:
    void TearDown() override
    {
        CLogFile::Destroy();
        CLogFile::SetLogging(true);
        ScriptedFixture::TearDown();
    }
    void Answer(Error_t status, int senseKey = -1) { m_Adapter.script->Answers.push_back({status, senseKey, {}, ERR_NONE}); }
    std::size_t Issues() const { return m_Adapter.script->Log.size(); }
    // The event a failing TEST UNIT READY throws; null when none was thrown or it was null.
    std::unique_ptr<CEventBase> FailingTestUnitReady(bool* thrown)
    {
        *thrown = false;
        try {
            m_Device->TestUnitReady(0);
        } catch (CEventBase* event) {
            *thrown = true;
            return std::unique_ptr<CEventBase>(event);
        }
        return nullptr;
    }
};

TEST_F(CommandPath, UnitAttentionsAreAbsorbedUpToTheRetryLimit)
{
    ASSERT_TRUE(CScsiIoCtl::SetNumUnitAttnRetries(2));
    for (int i = 0; i < 3; ++i) {
        Answer(ERR_SK_UNIT_ATTENTION, 6);
    }
    // Three issues, then the retries are used up: reported as done, the condition left in the block.
    EXPECT_EQ(m_Device->TestUnitReady(0), ERR_NONE);
    EXPECT_EQ(Issues(), 3U);
    EXPECT_EQ(m_Device->GetCtlBlock(0)->GetStatus(), ERR_SK_UNIT_ATTENTION);
    EXPECT_EQ(m_Device->GetErrorInfo()->GetTotalErrors(), 0);

    // A check condition counts as a unit attention only with sense key 6.
    Answer(ERR_CHECK_CONDITION, 6);
    Answer(ERR_CMD_COMPLETE);
    EXPECT_EQ(m_Device->TestUnitReady(0), ERR_NONE);
    EXPECT_EQ(Issues(), 5U);
    EXPECT_EQ(m_Device->GetCtlBlock(0)->GetStatus(), ERR_CMD_COMPLETE);

    Answer(ERR_CHECK_CONDITION, 3);
    bool thrown = false;
    auto event = FailingTestUnitReady(&thrown);
    EXPECT_TRUE(thrown);
    EXPECT_EQ(Issues(), 6U);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(static_cast<CEventError*>(event.get())->GetSenseKey(), 3);

    // Without retries a unit attention fails at once.
    ASSERT_TRUE(CScsiIoCtl::SetNumUnitAttnRetries(0));
    Answer(ERR_SK_UNIT_ATTENTION, 6);
    event = FailingTestUnitReady(&thrown);
    EXPECT_TRUE(thrown);
    EXPECT_EQ(Issues(), 7U);
}

TEST_F(CommandPath, BusResetDelaysTheNextIssue)
{
    ASSERT_TRUE(CScsiIoCtl::SetNumUnitAttnRetries(1));
    Answer(ERR_BUS_RESET);
    Answer(ERR_CMD_COMPLETE);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_Device->TestUnitReady(0), ERR_NONE);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(Issues(), 2U);
    EXPECT_GE(elapsed, std::chrono::milliseconds(harrow::platform::ScaledMilliseconds(500)));
}

TEST_F(CommandPath, FailuresAreCountedHardOrSoftBySenseKey)
{
    for (Error_t status : {ERR_CMD_PENDING, ERR_DATA_OVERRUN}) {  // not failures
        Answer(status);
        EXPECT_EQ(m_Device->TestUnitReady(0), ERR_NONE);
    }
    Answer(ERR_CHECK_CONDITION, 4);
    Answer(ERR_SK_RECOVERED, 1);
    Answer(ERR_CHECK_CONDITION, 5);
    m_Adapter.script->Answers.push_back({ERR_NONE, -1, {}, ERR_DRIVER_IO});  // the transport refuses the request
    m_Device->SetHardErrorAlarm(3);
    for (int i = 0; i < 4; ++i) {
        bool thrown = false;
        auto event = FailingTestUnitReady(&thrown);
        EXPECT_TRUE(thrown);
        EXPECT_NE(event, nullptr);
    }
    const CErrorInfo* errors = m_Device->GetErrorInfo();
    EXPECT_EQ(errors->GetSoftErrors(), 1);
    EXPECT_EQ(errors->GetHardErrors(), 3);
    EXPECT_TRUE(m_Device->HardErrorAlarmTripped());
    EXPECT_FALSE(m_Device->SoftErrorAlarmTripped());
}

TEST_F(CommandPath, SilentSystemThrowsNullAndCountsNothing)
{
    CComputerSystem::Instance()->SetSilent(true);
    Answer(ERR_CHECK_CONDITION, 4);
    bool thrown = false;
    auto event = FailingTestUnitReady(&thrown);
    EXPECT_TRUE(thrown);
    EXPECT_EQ(event, nullptr);
    EXPECT_EQ(m_Device->GetErrorInfo()->GetTotalErrors(), 0);

    // A silent device still reports and counts; it only stays out of the log.
    CComputerSystem::Instance()->SetSilent(false);
    m_Device->SetSilent(true);
    Answer(ERR_CHECK_CONDITION, 4);
    event = FailingTestUnitReady(&thrown);
    EXPECT_NE(event, nullptr);
    EXPECT_EQ(m_Device->GetErrorInfo()->GetHardErrors(), 1);
}

std::string LogAfterDestroy(const std::filesystem::path& file)
{
    CLogFile::Destroy();
    return test_support::ReadText(file);
}

TEST_F(CommandPath, CdbsAndErrorsGoToTheLogUnlessSilent)
{
    const std::filesystem::path file = m_Dir / "core.log";
    ASSERT_EQ(CLogFile::Init(file.string()), ERR_NONE);
    CLogFile::Instance()->TurnOnLogOption(LOG_CDB);
    CLogFile::Instance()->TurnOnLogOption(LOG_ERRORS);

    m_Device->SetSilent(true);
    Answer(ERR_CHECK_CONDITION, 4);
    bool thrown = false;
    FailingTestUnitReady(&thrown);
    EXPECT_EQ(LogAfterDestroy(file), "");

    ASSERT_EQ(CLogFile::Init(file.string()), ERR_NONE);
    CLogFile::Instance()->TurnOnLogOption(LOG_CDB);
    CLogFile::Instance()->TurnOnLogOption(LOG_ERRORS);
    m_Device->SetSilent(false);
    Answer(ERR_CHECK_CONDITION, 4);
    auto event = FailingTestUnitReady(&thrown);
    ASSERT_NE(event, nullptr);
    const std::string text = LogAfterDestroy(file);
    EXPECT_NE(text.find("Device: 0:2:0  CDB:  00  00  00  00  00  00"), std::string::npos) << text;
    // The logged copy of the error is the same report the caller received (its time line aside).
    const std::string report = event->toString();
    const std::string afterTime = report.substr(report.find("Error_t = "));
    EXPECT_NE(text.find(afterTime), std::string::npos) << text;
    EXPECT_NE(afterTime.find("Sense Key = 04"), std::string::npos) << afterTime;
}

}  // namespace
}  // namespace devices_test
