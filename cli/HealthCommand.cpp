#include "cli/HealthCommand.h"

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
    return static_cast<int>(health_bit::REFUSED);
}

// The device the command works on, or the reason there is none.
std::string DeviceProblem(const CommandLine& line, const char* option)
{
    if (!line.deviceGiven) {
        return std::string(option) + " needs a device address (HA:TAR:LUN)";
    }
    if (line.device.hostAdapter == NO_NUMBER) {
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
    return static_cast<int>(RunDiskSelfTest(line.device, *action, Print).bits);
}

int Metrics(const CommandLine& line)
{
    std::vector<HealthReport> reports;
    for (const DeviceRecord& disk : ListedDisks()) {
        reports.push_back(ReadDriveHealth(disk));
    }
    std::string error;
    if (!ReplaceFileAtomically(line.health.metricsFile, HealthMetricsText(reports), error)) {
        std::fprintf(stderr, "HarrowCLI: the metrics file was not written: %s\n", error.c_str());
        return static_cast<int>(health_bit::COMMAND_FAILED);
    }
    Print({Format("Health metrics of %zu disk%s written to %s", reports.size(), reports.size() == 1 ? "" : "s",
                  line.health.metricsFile.c_str()),
           false});
    return 0;
}

}  // namespace

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
