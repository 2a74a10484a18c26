#include "core/log/CLogFile.h"
#include "core/types/CEventError.h"
#include "tests/unit/log/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>

namespace {

// An event whose text the test chooses; it can report when it is written.
class TextEvent : public CEventBase {
public:
    explicit TextEvent(std::string text, std::promise<void>* written = nullptr)
        : CEventBase(ERR_NONE), m_Text(std::move(text)), m_Written(written)
    {
    }
    std::string toString() override
    {
        if (m_Written != nullptr) {
            m_Written->set_value();
        }
        return m_Text;
    }

private:
    std::string m_Text;
    std::promise<void>* m_Written;
};

class LogFile : public ::testing::Test {
protected:
    void TearDown() override { CLogFile::Destroy(); }

    TempFolder m_Folder{"log"};
};

}  // namespace

TEST_F(LogFile, InitRefusesBadNamesAndASecondInit)
{
    EXPECT_FALSE(CLogFile::IsErrorLoggingOn());
    EXPECT_EQ(CLogFile::Init(""), ERR_INVALID_PARAM);
    EXPECT_EQ(CLogFile::Init(m_Folder.File("missing/core.log")), ERR_NO_RESOURCE);
    EXPECT_EQ(CLogFile::Instance(), nullptr);

    ASSERT_EQ(CLogFile::Init(m_Folder.File("core.log")), ERR_NONE);
    EXPECT_EQ(CLogFile::Init(m_Folder.File("other.log")), ERR_ALREADY_INITIALIZED);
    EXPECT_EQ(CLogFile::Init(""), ERR_ALREADY_INITIALIZED);
    EXPECT_EQ(CLogFile::Instance()->GetLogFileName(), m_Folder.File("core.log"));
    EXPECT_TRUE(CLogFile::Instance()->IsStillLogging());

    CLogFile* log = CLogFile::Instance();
    log->TurnOnLogOption(static_cast<Logging_t>(7));
    EXPECT_FALSE(CLogFile::IsCDBLoggingOn() || CLogFile::IsErrorLoggingOn() || CLogFile::IsDevInfoLoggingOn() ||
                 CLogFile::IsPerfLoggingOn());
    log->TurnOnLogOption(LOG_ALL);
    log->TurnOffLogOption(LOG_ERRORS);
    EXPECT_TRUE(CLogFile::IsCDBLoggingOn() && CLogFile::IsDevInfoLoggingOn() && CLogFile::IsPerfLoggingOn());
    EXPECT_FALSE(CLogFile::IsErrorLoggingOn());
}

TEST_F(LogFile, WriterPicksUpAnEventWhileRunning)
{
    ASSERT_EQ(CLogFile::Init(m_Folder.File("core.log")), ERR_NONE);
    EXPECT_EQ(CLogFile::Instance()->LogEvent(nullptr), ERR_INVALID_PARAM);
    std::promise<void> written;
    ASSERT_EQ(CLogFile::Instance()->LogEvent(new TextEvent("one\n", &written)), ERR_NONE);
    // Only a hang guard: the writer wakes on the queue event, not on a poll.
    EXPECT_EQ(written.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

TEST_F(LogFile, EveryQueuedEventIsWrittenBeforeTheFileCloses)
{
    const std::string path = m_Folder.File("core.log");
    ASSERT_EQ(CLogFile::Init(path), ERR_NONE);
    std::string expected;
    for (int i = 0; i < 500; ++i) {
        const std::string line = "event " + std::to_string(i) + "\n";
        expected += line;
        CLogFile::Instance()->LogEvent(new TextEvent(line));
    }
    CLogFile::Instance()->EndLogging();
    EXPECT_FALSE(CLogFile::Instance()->IsStillLogging());
    CLogFile::Instance()->LogEvent(new TextEvent("after the end\n"));
    CLogFile::Destroy();
    EXPECT_EQ(ReadText(path), expected + "after the end\n");
}

TEST_F(LogFile, EventTextsAndDeviceBlocksAreWrittenAsTheyAre)
{
    const std::string path = m_Folder.File("core.log");
    ASSERT_EQ(CLogFile::Init(path), ERR_NONE);
    EXPECT_EQ(CLogFile::Instance()->LogDeviceInfo(CDevAddress(1, 3, 0, -1, -1, -1), DEV_DISK, "KESTREL",
                                                  "KS-9100", "3KX01234", "0042"),
              ERR_NONE);
    auto* message = new CEventError("Drive not ready");
    const std::string text = message->toString();
    CLogFile::Instance()->LogEvent(message);
    CLogFile::Destroy();
    EXPECT_EQ(ReadText(path),
              "Device: 1:3:0\n"
              "Device type: 0\n"
              "Vendor: KESTREL\n"
              "Model: KS-9100\n"
              "Serial Number: 3KX01234  \n"
              "Firmware version: 0042\n"
              "---------------------------------------------\n"
              "\n" +
                  text);
}

TEST_F(LogFile, ChangeAndClear)
{
    const std::string first = m_Folder.File("first.log");
    const std::string second = m_Folder.File("second.log");
    {
        std::ofstream(first) << "kept\n";
    }
    ASSERT_EQ(CLogFile::Init(first), ERR_NONE);
    CLogFile* log = CLogFile::Instance();
    log->LogDeviceInfo(CDevAddress(0, 0, 0, -1, -1, -1), DEV_TAPE, "", "", "", "");
    try {
        log->ChangeLogFile(m_Folder.File("missing/x.log"));
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Error opening log file");
    }
    EXPECT_EQ(log->GetLogFileName(), first);
    log->LogDeviceInfo(CDevAddress(0, 1, 0, -1, -1, -1), DEV_TAPE, "", "", "", "");
    EXPECT_EQ(ReadText(first).find("kept\nDevice: 0:0:0\n"), 0u);
    EXPECT_NE(ReadText(first).find("Device: 0:1:0\n"), std::string::npos);

    log->ChangeLogFile(second);
    EXPECT_EQ(log->GetLogFileName(), second);
    log->LogDeviceInfo(CDevAddress(0, 2, 0, -1, -1, -1), DEV_TAPE, "", "", "", "");
    EXPECT_EQ(ReadText(second).find("Device: 0:2:0\n"), 0u);
    log->ClearLogFile();
    EXPECT_EQ(ReadText(second), "");
    log->LogDeviceInfo(CDevAddress(0, 3, 0, -1, -1, -1), DEV_TAPE, "", "", "", "");
    EXPECT_EQ(ReadText(second).find("Device: 0:3:0\n"), 0u);
    EXPECT_EQ(ReadText(first).find("Device: 0:2:0"), std::string::npos);
}

TEST_F(LogFile, ClearFailureIsReported)
{
    TempFolder gone("log-gone");
    ASSERT_EQ(CLogFile::Init(gone.File("core.log")), ERR_NONE);
    std::filesystem::remove_all(gone.Path());
    try {
        CLogFile::Instance()->ClearLogFile();
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Error clearing log file");
    }
}
