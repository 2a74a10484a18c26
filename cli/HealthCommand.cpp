#include "cli/HealthCommand.h"

#include "cli/HealthJson.h"
#include "cli/JsonReport.h"
#include "frontend/DiskScan.h"
#include "frontend/DiskSelfTest.h"
#include "frontend/DriveHealth.h"
#include "frontend/HealthMetrics.h"
#include "frontend/HealthText.h"
#include "frontend/LineLog.h"
#include "frontend/TextFormat.h"

#include <cstdio>

namespace {

void Print(const HealthLine& line) { PrintPaged(line.text); }

int Refuse(const std::string& why)
{
    std::fprintf(stderr, "HarrowCLI: %s\n", why.c_str());
    if (JsonReport* json = ActiveJson()) {
        json->SetError(why);
    }
    return static_cast<int>(health_bit::kRefused);
}

// The device the command works on, or the reason there is none.
std::string DeviceProblem(const CommandLine& line, const char* option)
{
    if (!line.deviceGiven) {
        return std::string(option) + " needs a device address (HA:TAR:LUN)";
    }
    if (line.device.hostAdapter == kNoNumber) {
        return std::string(option) + " needs a valid device address (HA:TAR:LUN)";
    }
    return {};
}

int Health(const CommandLine& line)
{
    const HealthReport report = ReadDriveHealth(line.device);
    for (const HealthLine& each : HealthReportLines(report)) {
        Print(each);
    }
    if (JsonReport* json = ActiveJson()) {
        json->SetDevice(line.device);
        json->SetSection("health", HealthJson(report));
    }
    return static_cast<int>(HealthBits(report));
}

int SelfTest(const CommandLine& line)
{
    const std::string& word = line.health.selfTestAction;
    const std::optional<SelfTestAction> action = word == "short"      ? std::optional(SelfTestAction::Short)
                                                 : word == "extended" ? std::optional(SelfTestAction::Extended)
                                                 : word == "abort"    ? std::optional(SelfTestAction::Abort)
                                                                      : std::nullopt;
    if (!action) {
        return Refuse("--selftest takes short, extended or abort, not \"" + word + "\"");
    }
    std::vector<std::string> lines;
    const SelfTestOutcome outcome = RunDiskSelfTest(line.device, *action, [&lines](const HealthLine& each) {
        Print(each);
        lines.push_back(each.text);
    });
    if (JsonReport* json = ActiveJson()) {
        json->SetDevice(line.device);
        json->SetSection("selfTest", SelfTestJson(outcome, lines));
    }
    return static_cast<int>(outcome.bits);
}

int Metrics(const CommandLine& line)
{
    std::vector<HealthReport> reports;
    for (const DeviceRecord& disk : ListedDisks()) {
        reports.push_back(ReadDriveHealth(disk));
    }
    std::string error;
    const bool written = ReplaceFileAtomically(line.health.metricsFile, HealthMetricsText(reports), error);
    if (JsonReport* json = ActiveJson()) {
        json->SetSection("metrics", {{"file", line.health.metricsFile}, {"disks", reports.size()}, {"written", written}});
    }
    if (!written) {
        std::fprintf(stderr, "HarrowCLI: the metrics file was not written: %s\n", error.c_str());
        return static_cast<int>(health_bit::kCommandFailed);
    }
    Print({Format("Health metrics of %zu disk%s written to %s", reports.size(), reports.size() == 1 ? "" : "s",
                  line.health.metricsFile.c_str()),
           false});
    return 0;
}

}  // namespace

bool TakesHealthDevice(CliCommand command) { return command == CMD_HEALTH || command == CMD_SELF_TEST; }

int RunHealthCommand(const CommandLine& line)
{
    if (!line.health.problem.empty()) {
        return Refuse(line.health.problem);
    }
    if (line.command == CMD_METRICS) {
        return Metrics(line);
    }
    const char* option = line.command == CMD_HEALTH ? "--health" : "--selftest";
    if (const std::string problem = DeviceProblem(line, option); !problem.empty()) {
        return Refuse(problem);
    }
    return line.command == CMD_HEALTH ? Health(line) : SelfTest(line);
}
