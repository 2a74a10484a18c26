#include "frontend/LineLog.h"
#include "support/FileText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>

using test_support::ReadText;

namespace {

namespace fs = std::filesystem;

DeviceRecord Record(int kind, int ha, int raidTarget, int channel, int target, int lun)
{
    DeviceRecord record;
    record.kind = kind;
    record.hostAdapter = ha;
    record.raidTarget = raidTarget;
    record.channel = channel;
    record.target = target;
    record.lun = lun;
    return record;
}

size_t Count(const std::string& text, const std::string& word)
{
    size_t count = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        ++count;
    }
    return count;
}

class LineLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() /
                ("harrow-linelog-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(m_dir);
        GetLogSettings() = LogSettings{};
    }
    void TearDown() override
    {
        GetLogSettings() = LogSettings{};
        fs::remove_all(m_dir);
    }
    fs::path m_dir;
};

TEST(DeviceAddress, TextFollowsTheAddressForm)
{
    EXPECT_EQ(FormatDeviceAddress(Record(KIND_PLAIN, 1, 255, 255, 3, 0)), "Port:1 Target:3 Lun:0 ");
    EXPECT_EQ(FormatDeviceAddress(Record(KIND_RAID, 2, 6, 1, 4, 0)), "Port:2 Target:4 Channel:1 RaidTarget:6 ");
    EXPECT_EQ(FormatDeviceAddress(Record(KIND_RAID, 2, 255, 255, 4, 0)), "Port:2 Target:4 ");
    EXPECT_EQ(FormatDeviceAddress(Record(KIND_CHANNEL, 0, 5, 2, 9, 9)), "Port:0 Channel:2 RaidTarget:5 ");
    EXPECT_EQ(FormatDeviceAddress(Record(KIND_CHANNEL, 0, 255, 2, 9, 9)), "Port:0 Channel:2 ");
    EXPECT_EQ(FormatDeviceAddress(Record(KIND_CHANNEL_ALT, 0, 5, 2, 9, 1)), "Port:0 Target:9 Lun:1 ");
}

TEST_F(LineLog, LinesGoToTheConsoleTheLogAndTheDeviceFile)
{
    GetLogSettings().logFileName = (m_dir / "run.log").string();
    DeviceRecord record = Record(KIND_PLAIN, 0, 255, 255, 1, 0);
    record.logName = (m_dir / "drive1").string();

    ::testing::internal::CaptureStdout();
    LogLine("Passed", &record, LogFlags{true, false, true});
    LogLine("plain", nullptr, LogFlags{false, true, true});
    LogLine("quiet", &record, LogFlags{false, true, false});
    const std::string console = ::testing::internal::GetCapturedStdout();

    const std::regex stamped(R"(\d{2}-[A-Z][a-z]{2}-\d{4} \d{2}:\d{2}:\d{2} Port:0 Target:1 Lun:0  Passed\n)");
    const std::string firstLine = console.substr(0, console.find('\n') + 1);
    EXPECT_TRUE(std::regex_match(firstLine, stamped)) << firstLine;
    EXPECT_EQ(console.substr(firstLine.size()), " plain\n");
    EXPECT_EQ(ReadText(m_dir / "run.log"), console + " quiet\n");
    EXPECT_EQ(ReadText(m_dir / "drive1.txt"), firstLine + " quiet\n");
}

TEST_F(LineLog, UnwritableLogFileIsSkipped)
{
    GetLogSettings().logFileName = (m_dir / "missing" / "run.log").string();
    ::testing::internal::CaptureStdout();
    LogLine("still shown", nullptr, LogFlags{false, true, true});
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), " still shown\n");
}

TEST_F(LineLog, PagingCountsAcrossLogLinesButRestartsInEveryPrintPaged)
{
    // Nobody answers: every prompt reads end of file at once.
    std::FILE* input = std::freopen("/dev/null", "r", stdin);
    ASSERT_NE(input, nullptr);
    GetLogSettings().pageHeight = 5;
    // Earlier lines of this program still count: log until the page turns.
    for (int line = 0; line < 5; ++line) {
        ::testing::internal::CaptureStdout();
        LogLine("align", nullptr, LogFlags{false, true, true});
        if (::testing::internal::GetCapturedStdout().find(kMorePrompt) != std::string::npos) {
            break;
        }
    }

    ::testing::internal::CaptureStdout();
    for (int line = 0; line < 3; ++line) {
        LogLine("a", nullptr, LogFlags{false, true, true});
    }
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), " a\n a\n a\n");
    ::testing::internal::CaptureStdout();
    LogLine("b", nullptr, LogFlags{false, true, true});
    LogLine("c\nd\ne\nf", nullptr, LogFlags{false, true, true});
    const std::string logged = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(logged, std::string(" b\n") + kMorePrompt + " c\nd\ne\nf\n" + kMorePrompt);

    ::testing::internal::CaptureStdout();
    PrintPaged("1\n2\n3");
    PrintPaged("4\n5\n6\n7");
    const std::string paged = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(paged, std::string("1\n2\n3\n4\n5\n6\n") + kMorePrompt + "7\n");
    EXPECT_EQ(Count(paged, kMorePrompt), 1U);
}

TEST_F(LineLog, PrintPagedPrintsEveryPieceOnItsOwnLine)
{
    ::testing::internal::CaptureStdout();
    PrintPaged("");
    PrintPaged("\nInitialization complete\n\n");
    PrintPaged("one\ntwo");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\nInitialization complete\n\none\ntwo\n");
}

}  // namespace
