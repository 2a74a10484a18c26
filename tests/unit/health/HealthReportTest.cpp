// The health verdict, its exit bits, the report text and the metrics text of
// reports put together by hand.
#include "frontend/DriveHealth.h"
#include "frontend/HealthMetrics.h"
#include "frontend/HealthText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

HealthReport Healthy()
{
    HealthReport report;
    report.address = "0:1:0";
    report.reached = true;
    report.peripheralType = 0;
    report.vendor = "MERIDIAN";
    report.product = "MD3600LW";
    report.revision = "M200";
    report.serial = "S1";
    report.identityOutcome.state = PageOutcome::READ;
    report.supportedOutcome.state = PageOutcome::READ;
    report.supported = {0x00, 0x0D, 0x2F};
    report.pages[0x0D].state = PageOutcome::READ;
    report.pages[0x2F].state = PageOutcome::READ;
    report.temperatures = Temperatures{40, 60};
    report.exceptions = InformationalExceptions{0, 0, 40};
    report.defectOutcome.state = PageOutcome::READ;
    report.grownDefects = 0;
    return report;
}

std::string Text(const HealthReport& report)
{
    std::string text;
    for (const HealthLine& line : HealthReportLines(report)) {
        text += line.text + "\n";
    }
    return text;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(HealthVerdict, EachConditionItsBitAndReason)
{
    struct Case {
        const char* name;
        void (*change)(HealthReport&);
        unsigned bits;
        const char* verdict;
    };
    const Case cases[] = {
        {"healthy", [](HealthReport&) {}, 0, "SCSI health: OK"},
        {"predicted failure", [](HealthReport& r) { r.exceptions->asc = 0x5D, r.exceptions->ascq = 0x10; },
         health_bit::kPredictedFailure, "SCSI health: FAILED: failure predicted (ASC/ASCQ 5Dh/10h)"},
        {"exception told through sense",
         [](HealthReport& r) { r.exceptions.reset(), r.reportedException = SenseCodes{0, 0x5D, 0x00}; },
         health_bit::kPredictedFailure, "SCSI health: FAILED: failure predicted (ASC/ASCQ 5Dh/00h)"},
        {"at the reference", [](HealthReport& r) { r.temperatures->current = 60; }, health_bit::kHot,
         "SCSI health: FAILED: temperature at or above the reference"},
        {"one below the reference", [](HealthReport& r) { r.temperatures->current = 59; }, 0, "SCSI health: OK"},
        {"temperature warning", [](HealthReport& r) { r.exceptions->asc = 0x0B, r.exceptions->ascq = 0x01; },
         health_bit::kHot, "SCSI health: FAILED: temperature at or above the reference"},
        {"uncorrected", [](HealthReport& r) { r.verifyErrors = ErrorCounters{}, r.verifyErrors->uncorrected = 1; },
         health_bit::kUncorrected, "SCSI health: FAILED: uncorrected errors logged"},
        {"grown defects", [](HealthReport& r) { r.grownDefects = 2; }, health_bit::kGrownDefects, "SCSI health: OK"},
        {"failed self test",
         [](HealthReport& r) { r.selfTests = std::vector<SelfTestRecord>{SelfTestRecord{1, 2, 5, 1, 10, {}, 3, 0x11, 0}}; },
         health_bit::kSelfTestFailed, "SCSI health: FAILED: the self-test log holds a failure"},
        {"aborted self test",
         [](HealthReport& r) { r.selfTests = std::vector<SelfTestRecord>{SelfTestRecord{1, 1, 1, 0, 10, {}, 0, 0, 0}}; }, 0,
         "SCSI health: OK"},
        {"unreadable IE page",
         [](HealthReport& r) { r.exceptions.reset(), r.pages[0x2F] = PageOutcome{PageOutcome::FAILED, {2, 4, 0}}; },
         health_bit::kCommandFailed, "SCSI health: FAILED: the informational exceptions page could not be read"},
        {"unreachable", [](HealthReport& r) { r = HealthReport{}, r.address = "0:9:0"; }, health_bit::kUnreachable,
         "SCSI health: FAILED: the device could not be reached"},
    };
    for (const Case& c : cases) {
        HealthReport report = Healthy();
        c.change(report);
        EXPECT_EQ(HealthBits(report), c.bits) << c.name;
        EXPECT_EQ(HealthVerdict(report), c.verdict) << c.name;
        EXPECT_EQ(HealthReportLines(report).back().text, c.verdict) << c.name;
    }
}

TEST(HealthVerdict, SeveralReasonsInOneLine)
{
    HealthReport report = Healthy();
    report.exceptions->asc = 0x5D;
    report.temperatures->current = 70;
    EXPECT_EQ(HealthBits(report), health_bit::kPredictedFailure | health_bit::kHot);
    EXPECT_EQ(HealthVerdict(report),
              "SCSI health: FAILED: failure predicted (ASC/ASCQ 5Dh/00h); temperature at or above the reference");
}

TEST(HealthText, UnreadPagesSayNotSupportedInOneLineAndNoZeros)
{
    const std::string text = Text(Healthy());
    EXPECT_TRUE(Has(text, "Drive 0:1:0: MERIDIAN MD3600LW M200, serial S1\n")) << text;
    EXPECT_TRUE(Has(text, "Supported log pages: 00h 0Dh 2Fh\n")) << text;
    EXPECT_TRUE(Has(text, "Write error counters (page 02h): not supported\n")) << text;
    EXPECT_TRUE(Has(text, "Self-test log (page 10h): not supported\n")) << text;
    EXPECT_TRUE(Has(text, "Current temperature: 40 C\nReference temperature: 60 C\n")) << text;
    EXPECT_FALSE(Has(text, "uncorrected")) << text;
    EXPECT_FALSE(Has(text, "Non-medium errors: 0")) << text;
}

TEST(HealthText, OnlyTheCountersThePageHeld)
{
    HealthReport report = Healthy();
    report.supported.push_back(0x03);
    report.pages[0x03].state = PageOutcome::READ;
    report.readErrors = ErrorCounters{};
    report.readErrors->bytesProcessed = 4096;
    report.readErrors->uncorrected = 0;
    EXPECT_TRUE(Has(Text(report), "Read error counters: bytes processed 4096, uncorrected 0\n")) << Text(report);
}

TEST(HealthText, NoLogsIsOneLine)
{
    HealthReport report = Healthy();
    report.supportedOutcome = PageOutcome{PageOutcome::UNSUPPORTED, {5, 0x20, 0}};
    report.pages.clear();
    report.exceptions.reset();
    report.temperatures.reset();
    report.defectOutcome = PageOutcome{PageOutcome::UNSUPPORTED, {5, 0x20, 0}};
    report.grownDefects.reset();
    EXPECT_EQ(Text(report), "Drive 0:1:0: MERIDIAN MD3600LW M200, serial S1\n"
                            "The drive offers no logs (LOG SENSE refused: 05/20/00)\n"
                            "Grown defects: READ DEFECT DATA not supported\n"
                            "SCSI health: OK\n");
    EXPECT_EQ(HealthBits(report), 0u);
}

TEST(HealthText, AlarmLinesStandOut)
{
    HealthReport report = Healthy();
    report.temperatures->current = 61;
    const auto lines = HealthReportLines(report);
    const auto current = std::find_if(lines.begin(), lines.end(),
                                      [](const HealthLine& l) { return l.text == "Current temperature: 61 C"; });
    ASSERT_NE(current, lines.end());
    EXPECT_TRUE(current->alarm);
    EXPECT_TRUE(lines.back().alarm);
    EXPECT_FALSE(lines.front().alarm);
}

TEST(HealthMetrics, ExpositionFormatWithoutUnreadFigures)
{
    HealthReport hot = Healthy();
    hot.temperatures->current = 61;
    hot.serial = "A\"B\\C";
    HealthReport gone;
    gone.address = "0:9:0";
    const std::string text = HealthMetricsText({hot, gone});
    EXPECT_TRUE(Has(text, "# TYPE harrow_scsi_temperature_celsius gauge\n"
                          "harrow_scsi_temperature_celsius{device=\"0:1:0\"} 61\n"))
        << text;
    EXPECT_TRUE(Has(text, "serial=\"A\\\"B\\\\C\"")) << text;
    EXPECT_TRUE(Has(text, "harrow_scsi_health_ok{device=\"0:1:0\"} 0\n")) << text;
    EXPECT_TRUE(Has(text, "harrow_scsi_health_status_bits{device=\"0:1:0\"} 16\n")) << text;
    EXPECT_TRUE(Has(text, "harrow_scsi_reachable{device=\"0:9:0\"} 0\n")) << text;
    EXPECT_FALSE(Has(text, "harrow_scsi_temperature_celsius{device=\"0:9:0\"}")) << text;
    EXPECT_FALSE(Has(text, "harrow_scsi_errors_uncorrected_total")) << "no counter page was read";
    // Each family has one HELP and one TYPE line, before its samples.
    std::istringstream lines(text);
    int types = 0;
    for (std::string line; std::getline(lines, line);) {
        types += line.starts_with("# TYPE harrow_scsi_reachable ") ? 1 : 0;
    }
    EXPECT_EQ(types, 1);
}

TEST(HealthMetrics, FileIsReplacedWhole)
{
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("harrow-metrics-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto file = folder / "harrow.prom";
    std::string error;
    ASSERT_TRUE(ReplaceFileAtomically(file, "first\n", error)) << error;
    ASSERT_TRUE(ReplaceFileAtomically(file, "second\n", error)) << error;
    std::ifstream in(file);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), "second\n");
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        EXPECT_FALSE(entry.path().extension() == ".prom" && entry.path() != file) << entry.path();
    }
    // A folder that is a file: the write fails and says where.
    EXPECT_FALSE(ReplaceFileAtomically(file / "x.prom", "third\n", error));
    EXPECT_TRUE(Has(error, "x.prom")) << error;
    std::filesystem::remove_all(folder);
}

}  // namespace
