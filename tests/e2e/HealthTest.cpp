// HarrowCLI --health, --selftest and --metrics against simulated disks of both
// makers, each health fault with its exit bit, and a tgtd LUN without logs.
#include "CliRunner.h"

#include "support/TgtTarget.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using harrow::testing::TgtTarget;

constexpr int kRefused = 1;
constexpr int kUnreachable = 2;
constexpr int kCommandFailed = 4;
constexpr int kPredictedFailure = 8;
constexpr int kHot = 16;
constexpr int kUncorrected = 32;
constexpr int kGrownDefects = 64;
constexpr int kSelfTestFailed = 128;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string LastLine(const std::string& text)
{
    const std::string trimmed = text.substr(0, text.find_last_not_of('\n') + 1);
    return trimmed.substr(trimmed.rfind('\n') + 1);
}

class HealthCli : public ::testing::Test {
protected:
    CliRunner m_cli{MachinePath("health.json")};
};

TEST_F(HealthCli, HealthyDriveOfTheMaker)
{
    const auto run = m_cli.Run({"--health", "0:0:0"});
    const std::string out = AfterInit(run);
    EXPECT_EQ(run.exitCode, 0) << out;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(out.starts_with("Drive 0:0:0: KESTREL KX18LVD K100, serial HLT00000\n"
                                "Supported log pages: 00h 02h 03h 05h 06h 0Dh 0Eh 10h 15h 2Fh 3Eh\n"
                                "Informational exceptions: none (ASC/ASCQ 00h/00h), last temperature 35 C\n"
                                "Current temperature: 35 C\n"
                                "Reference temperature: 60 C\n"))
        << out;
    EXPECT_TRUE(Has(out, "Read error counters: corrected without delay 0, corrected with delay 0, rereads 0, "
                         "corrected in total 0, correction algorithm runs 0, bytes processed 0, uncorrected 0\n"))
        << out;
    EXPECT_TRUE(Has(out, "Start-stop cycles: 51 of 50000 specified\n")) << out;
    EXPECT_TRUE(Has(out, "Self-test log: no self test has run\n")) << out;
    EXPECT_TRUE(Has(out, "Protocol-specific port (page 18h): not supported\n")) << out;
    EXPECT_TRUE(Has(out, "Grown defects: 0\n")) << out;
    EXPECT_EQ(LastLine(out), "SCSI health: OK");
}

TEST_F(HealthCli, HealthyDriveOfAnotherMakerWithItsSasPort)
{
    const auto run = m_cli.Run({"--health", "0:1:0"});
    const std::string out = AfterInit(run);
    EXPECT_EQ(run.exitCode, 0) << out;
    EXPECT_TRUE(Has(out, "Supported log pages: 00h 02h 03h 05h 06h 0Dh 0Eh 10h 15h 18h 2Fh\n")) << out;
    EXPECT_TRUE(Has(out, "Port 1 phy 0: SAS 6 Gbit/s, address 0x5000C500A1B2C3D4, attached 0x500605B000A1B2C0, "
                         "invalid dwords 0, disparity errors 0, loss of dword sync 0, phy reset problems 0\n"))
        << out;
    EXPECT_TRUE(Has(out, "Background scan: waiting for the scan interval, 119 scans and 119 medium scans "
                         "performed, progress 0.00 %, power-on time 1200000 minutes\n"))
        << out;
    EXPECT_EQ(LastLine(out), "SCSI health: OK");
}

TEST_F(HealthCli, EachFaultSetsItsExitBit)
{
    struct Case {
        const char* address;
        int exitCode;
        const char* line;
        const char* verdict;
    };
    const Case cases[] = {
        {"0:2:0", kPredictedFailure, "Informational exceptions: failure predicted (ASC/ASCQ 5Dh/10h), last temperature 35 C",
         "SCSI health: FAILED: failure predicted (ASC/ASCQ 5Dh/10h)"},
        {"0:3:0", kUncorrected,
         "Verify error counters: corrected without delay 12000, corrected with delay 0, rereads 0, corrected in "
         "total 12000, correction algorithm runs 12000, bytes processed 0, uncorrected 6",
         "SCSI health: FAILED: uncorrected errors logged"},
        {"0:4:0", kHot, "Current temperature: 63 C", "SCSI health: FAILED: temperature at or above the reference"},
        {"0:5:0", kSelfTestFailed,
         "  #1  background extended, failed in a later segment, segment 3, at 1000 power-on hours, first failure "
         "at LBA 5000, sense 03/11/00",
         "SCSI health: FAILED: the self-test log holds a failure"},
        {"0:6:0", kGrownDefects, "Grown defects: 2", "SCSI health: OK"},
        {"0:7:0", kUnreachable, "Drive 0:7:0: the device could not be reached",
         "SCSI health: FAILED: the device could not be reached"},
    };
    for (const Case& c : cases) {
        const auto run = m_cli.Run({"--health", c.address});
        const std::string out = AfterInit(run);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.address << "\n" << out;
        EXPECT_TRUE(Has(out, std::string(c.line) + "\n")) << c.address << "\n" << out;
        EXPECT_EQ(LastLine(out), c.verdict) << c.address;
    }
}

TEST_F(HealthCli, RefusedCommandLines)
{
    struct Case {
        std::vector<std::string> arguments;
        const char* error;
    };
    const Case cases[] = {
        {{"--health"}, "HarrowCLI: --health needs a device address (HA:TAR:LUN)\n"},
        {{"--health", "0:x:0"}, "HarrowCLI: --health needs a valid device address (HA:TAR:LUN)\n"},
        {{"--selftest", "long", "0:0:0"}, "HarrowCLI: --selftest takes short, extended or abort, not \"long\"\n"},
        {{"--selftest"}, "HarrowCLI: --selftest needs a value after it\n"},
        {{"--metrics", "--health"}, "HarrowCLI: --metrics needs a value after it\n"},
    };
    for (const Case& c : cases) {
        const auto run = m_cli.Run(c.arguments);
        EXPECT_EQ(run.exitCode, kRefused) << c.arguments[0];
        EXPECT_EQ(run.err, c.error) << c.arguments[0];
    }
}

TEST_F(HealthCli, SelfTestOnADiskOfAnotherMaker)
{
    const auto run = m_cli.Run({"--selftest", "short", "0:1:0"});
    const std::string out = AfterInit(run);
    EXPECT_EQ(run.exitCode, 0) << out;
    EXPECT_TRUE(out.starts_with("Self test: short self test started\n")) << out;
    EXPECT_TRUE(Has(out, "Self-test log, newest entry: #1  background short, completed without error, segment 0, "
                         "at 20000 power-on hours\n"))
        << out;
    EXPECT_EQ(LastLine(out), "Self test: completed without error");
    const auto health = AfterInit(m_cli.Run({"--health", "0:1:0"}));
    EXPECT_TRUE(Has(health, "Self-test log: 1 entry, newest first\n")) << health;
}

TEST_F(HealthCli, SelfTestThatFailsAndOneThatCannotStart)
{
    const auto failing = m_cli.Run({"--selftest", "extended", "0:9:0"});
    const std::string out = AfterInit(failing);
    EXPECT_EQ(failing.exitCode, kSelfTestFailed) << out;
    // The drive fails in the second of 8 segments: one progress line from 10 % on, how far depends on timing.
    EXPECT_TRUE(out.starts_with("Self test: extended self test started\nSelf test: 1")) << out;
    EXPECT_TRUE(Has(out, "% complete\nSelf-test log")) << out;
    EXPECT_TRUE(Has(out, "Self-test log, newest entry: #1  background extended, failed in the second segment, "
                         "segment 2, at 1000 power-on hours, sense 04/40/80\n"))
        << out;
    EXPECT_EQ(LastLine(out), "Self test: FAILED: failed in the second segment");

    const auto without = m_cli.Run({"--selftest", "short", "0:8:0"});
    EXPECT_EQ(without.exitCode, kCommandFailed);
    EXPECT_EQ(LastLine(AfterInit(without)), "Self test: FAILED: SEND DIAGNOSTIC refused: 05/24/00");
    const auto nothing = m_cli.Run({"--selftest", "abort", "0:0:0"});
    EXPECT_EQ(nothing.exitCode, kCommandFailed);
    EXPECT_EQ(LastLine(AfterInit(nothing)),
              "Self test: FAILED: no self test was running to abort (SEND DIAGNOSTIC refused: 05/24/00)");
}

TEST_F(HealthCli, AbortOfARunningSelfTest)
{
    auto running = m_cli.Start({"--selftest", "extended", "0:1:0"});
    ASSERT_TRUE(running.WaitForText(running.OutPath(), "Self test: extended self test started",
                                    std::chrono::seconds(20)));
    const auto abort = m_cli.Run({"--selftest", "abort", "0:1:0"});
    EXPECT_EQ(abort.exitCode, 0) << AfterInit(abort);
    EXPECT_TRUE(Has(AfterInit(abort), "Self test: abort sent\n")) << AfterInit(abort);
    EXPECT_EQ(LastLine(AfterInit(abort)), "Self test: aborted by the host");
    const auto first = running.Wait();
    EXPECT_EQ(LastLine(AfterInit(first)), "Self test: aborted by the host");
    EXPECT_EQ(first.exitCode, 0);
}

// The text exposition format, parsed: "name{labels} value" per sample.
std::map<std::string, double> ParseMetrics(const std::string& text, std::map<std::string, std::string>& types)
{
    std::map<std::string, double> samples;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("# TYPE ")) {
            std::istringstream fields(line.substr(7));
            std::string name, type;
            fields >> name >> type;
            EXPECT_TRUE(types.emplace(name, type).second) << "two TYPE lines for " << name;
            continue;
        }
        if (line.starts_with("# HELP ") || line.empty()) {
            continue;
        }
        const auto space = line.rfind(' ');
        EXPECT_NE(space, std::string::npos) << line;
        const std::string key = line.substr(0, space);
        const std::string name = key.substr(0, key.find('{'));
        EXPECT_TRUE(types.count(name)) << "sample before its TYPE: " << line;
        EXPECT_TRUE(samples.emplace(key, std::stod(line.substr(space + 1))).second) << "twice: " << line;
    }
    return samples;
}

TEST_F(HealthCli, MetricsOfEveryListedDiskParsedBack)
{
    const auto run = m_cli.Run({"--metrics", "harrow.prom"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(LastLine(AfterInit(run)), "Health metrics of 9 disks written to harrow.prom");
    std::map<std::string, std::string> types;
    const auto samples = ParseMetrics(m_cli.ReadWorkFile("harrow.prom"), types);
    EXPECT_EQ(types.at("harrow_scsi_errors_uncorrected_total"), "counter");
    EXPECT_EQ(types.at("harrow_scsi_temperature_celsius"), "gauge");
    EXPECT_EQ(samples.at("harrow_scsi_health_ok{device=\"0:0:0\"}"), 1);
    EXPECT_EQ(samples.at("harrow_scsi_failure_predicted{device=\"0:2:0\"}"), 1);
    EXPECT_EQ(samples.at("harrow_scsi_health_status_bits{device=\"0:2:0\"}"), kPredictedFailure);
    EXPECT_EQ(samples.at("harrow_scsi_errors_uncorrected_total{device=\"0:3:0\",operation=\"read\"}"), 6);
    EXPECT_EQ(samples.at("harrow_scsi_temperature_celsius{device=\"0:4:0\"}"), 63);
    EXPECT_EQ(samples.at("harrow_scsi_reference_temperature_celsius{device=\"0:4:0\"}"), 60);
    EXPECT_EQ(samples.at("harrow_scsi_self_test_failures{device=\"0:5:0\"}"), 1);
    EXPECT_EQ(samples.at("harrow_scsi_grown_defects{device=\"0:6:0\"}"), 2);
    EXPECT_EQ(samples.at("harrow_scsi_sas_invalid_dwords_total{device=\"0:1:0\",port=\"1\",phy=\"0\"}"), 0);
    EXPECT_EQ(samples.count("harrow_scsi_sas_invalid_dwords_total{device=\"0:0:0\",port=\"1\",phy=\"0\"}"), 0u);
    EXPECT_EQ(samples.at("harrow_scsi_device_info{device=\"0:1:0\",vendor=\"MERIDIAN\",product=\"MD3600LW\","
                         "revision=\"M200\",serial=\"HLT00001\"}"),
              1);

    // A second run replaces the file; one into a missing folder says why and leaves nothing.
    EXPECT_EQ(m_cli.Run({"--metrics", "harrow.prom"}).exitCode, 0);
    const auto refused = m_cli.Run({"--metrics", "harrow.prom/inside.prom"});
    EXPECT_EQ(refused.exitCode, kCommandFailed);
    EXPECT_TRUE(Has(refused.err, "HarrowCLI: the metrics file was not written: harrow.prom/inside.prom")) << refused.err;
}

// The run's --json document, checked against the published schema.
nlohmann::json Document(const CliRunner& cli, std::vector<std::string> arguments, int exitCode)
{
    arguments.push_back("--json");
    const auto run = cli.Run(arguments);
    EXPECT_EQ(run.exitCode, exitCode) << arguments[0] << "\n" << run.err;
    const auto file = cli.WorkDir() / "health.json";
    std::ofstream(file) << run.out;
    const std::string command = std::string(HARROW_JSON_VALIDATOR) + " -i '" + file.string() + "' '" +
                                HARROW_JSON_SCHEMA + "' >'" + (cli.WorkDir() / "complaint.txt").string() + "' 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << cli.ReadWorkFile("complaint.txt") << run.out;
    return nlohmann::json::parse(run.out, nullptr, false);
}

TEST_F(HealthCli, JsonOfTheReportTheSelfTestAndTheMetrics)
{
    const auto failing = Document(m_cli, {"--health", "0:5:0"}, kSelfTestFailed);
    EXPECT_EQ(failing["command"], "health");
    EXPECT_EQ(failing["device"]["address"], "0:5:0");
    const auto& health = failing["health"];
    EXPECT_EQ(health["verdict"], "SCSI health: FAILED: the self-test log holds a failure");
    EXPECT_EQ(health["ok"], false);
    EXPECT_EQ(health["bits"], kSelfTestFailed);
    EXPECT_EQ(health["selfTests"][0]["failedLba"], 5000);
    EXPECT_EQ(health["selfTests"][0]["sense"]["asc"], 0x11);
    EXPECT_EQ(health["pages"]["18h"]["state"], "read");
    EXPECT_EQ(health["ports"][0]["phys"][0]["linkRate"], "6 Gbit/s");
    EXPECT_EQ(health["lines"].back(), health["verdict"]);
    EXPECT_FALSE(Document(m_cli, {"--health", "0:0:0"}, 0)["health"].contains("ports")) << "not read, not shown";

    const auto selfTest = Document(m_cli, {"--selftest", "abort", "0:0:0"}, kCommandFailed);
    EXPECT_EQ(selfTest["command"], "self-test");
    EXPECT_EQ(selfTest["selfTest"]["action"], "abort");
    EXPECT_EQ(selfTest["selfTest"]["refused"]["asc"], 0x24);

    const auto metrics = Document(m_cli, {"--metrics", "fleet.prom"}, 0);
    EXPECT_EQ(metrics["metrics"]["disks"], 9);
    EXPECT_EQ(metrics["metrics"]["written"], true);
    const auto refused = Document(m_cli, {"--selftest", "now", "0:0:0"}, kRefused);
    EXPECT_EQ(refused["error"], "--selftest takes short, extended or abort, not \"now\"");
}

class HealthIscsi : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_target = TgtTarget::Start({16 << 20}, &s_why); }
    static void TearDownTestSuite() { s_target.reset(); }
    void SetUp() override
    {
        if (!s_target) {
            GTEST_SKIP() << "tgtd cannot be started here: " << s_why;
        }
    }
    static std::unique_ptr<TgtTarget> s_target;
    static std::string s_why;
};

std::unique_ptr<TgtTarget> HealthIscsi::s_target;
std::string HealthIscsi::s_why;

TEST_F(HealthIscsi, ALunWithoutLogsSaysSoInOneLine)
{
    CliRunner cli(s_target->Url());
    const auto run = cli.Run({"--health", "0:0:1"});
    const std::string out = AfterInit(run);
    EXPECT_EQ(run.exitCode, 0) << out;
    EXPECT_EQ(out, "Drive 0:0:1: IET VIRTUAL-DISK 0001, serial beaf11\n"
                   "The drive offers no logs (LOG SENSE refused: 05/20/00)\n"
                   "Grown defects: READ DEFECT DATA not supported\n"
                   "SCSI health: OK\n");
    const auto selfTest = cli.Run({"--selftest", "short", "0:0:1"});
    EXPECT_EQ(selfTest.exitCode, kCommandFailed);
    EXPECT_EQ(LastLine(AfterInit(selfTest)), "Self test: FAILED: SEND DIAGNOSTIC refused: 05/24/00");
}

}  // namespace
