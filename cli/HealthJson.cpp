#include "cli/HealthJson.h"

#include "frontend/HealthText.h"

namespace {

using nlohmann::json;

json Sense(const SenseCodes& sense) { return {{"key", sense.key}, {"asc", sense.asc}, {"ascq", sense.ascq}}; }

const char* StateName(PageOutcome::State state)
{
    switch (state) {
    case PageOutcome::READ: return "read";
    case PageOutcome::UNSUPPORTED: return "unsupported";
    default: return "failed";
    }
}

json Outcome(const PageOutcome& outcome)
{
    json value = {{"state", StateName(outcome.state)}};
    if (outcome.state != PageOutcome::READ) {
        value["sense"] = Sense(outcome.sense);
    }
    if (outcome.cut) {
        value["cut"] = true;
    }
    return value;
}

template <typename T>
void Put(json& object, const char* name, const std::optional<T>& value)
{
    if (value) {
        object[name] = *value;
    }
}

json Counters(const ErrorCounters& counters)
{
    json value = json::object();
    Put(value, "correctedWithoutDelay", counters.correctedFast);
    Put(value, "correctedWithDelay", counters.correctedDelayed);
    Put(value, "repeated", counters.repeated);
    Put(value, "corrected", counters.corrected);
    Put(value, "algorithmRuns", counters.algorithmRuns);
    Put(value, "bytesProcessed", counters.bytesProcessed);
    Put(value, "uncorrected", counters.uncorrected);
    return value;
}

json Entry(const SelfTestRecord& entry)
{
    json value = {{"number", entry.number},         {"code", entry.code},
                  {"codeName", SelfTestCodeName(entry.code)}, {"result", entry.result},
                  {"resultName", SelfTestResultName(entry.result)}, {"segment", entry.segment},
                  {"hours", entry.hours}};
    Put(value, "failedLba", entry.failedLba);
    if (entry.key != 0 || entry.asc != 0 || entry.ascq != 0) {
        value["sense"] = Sense({entry.key, entry.asc, entry.ascq});
    }
    return value;
}

void PutPages(json& value, const HealthReport& report)
{
    value["logs"] = StateName(report.supportedOutcome.state);
    value["supportedPages"] = report.supported;
    json pages = json::object();
    for (const auto& [code, outcome] : report.pages) {
        char name[8];
        std::snprintf(name, sizeof name, "%02Xh", code);
        pages[name] = Outcome(outcome);
    }
    value["pages"] = pages;
}

void PutFigures(json& value, const HealthReport& report)
{
    if (report.exceptions) {
        json exceptions = json::object();
        Put(exceptions, "asc", report.exceptions->asc);
        Put(exceptions, "ascq", report.exceptions->ascq);
        Put(exceptions, "temperature", report.exceptions->temperature);
        value["informationalExceptions"] = exceptions;
    }
    if (report.exceptions || report.reportedException) {
        value["predictedFailure"] = PredictsFailure(report);
    }
    if (report.temperatures) {
        json temperature = json::object();
        Put(temperature, "current", report.temperatures->current);
        Put(temperature, "reference", report.temperatures->reference);
        value["temperature"] = temperature;
    }
    json counters = json::object();
    for (const auto& [name, page] : {std::pair{"write", &report.writeErrors}, std::pair{"read", &report.readErrors},
                                     std::pair{"verify", &report.verifyErrors}}) {
        if (*page) {
            counters[name] = Counters(**page);
        }
    }
    if (!counters.empty()) {
        value["errorCounters"] = counters;
    }
    Put(value, "nonMediumErrors", report.nonMediumErrors);
    if (report.startStop) {
        json cycles = json::object();
        Put(cycles, "manufactured", report.startStop->manufactured);
        Put(cycles, "specifiedCycles", report.startStop->specifiedCycles);
        Put(cycles, "cycles", report.startStop->cycles);
        Put(cycles, "specifiedLoads", report.startStop->specifiedLoads);
        Put(cycles, "loads", report.startStop->loads);
        value["startStop"] = cycles;
    }
    if (report.selfTests) {
        value["selfTests"] = json::array();
        for (const SelfTestRecord& entry : *report.selfTests) {
            value["selfTests"].push_back(Entry(entry));
        }
    }
    if (report.backgroundScan && report.backgroundScan->status) {
        const BackgroundScanStatus& status = *report.backgroundScan->status;
        value["backgroundScan"] = {{"status", status.status},
                                   {"statusName", BackgroundScanStatusName(status.status)},
                                   {"powerOnMinutes", status.powerOnMinutes},
                                   {"scansPerformed", status.scansPerformed},
                                   {"mediumScansPerformed", status.mediumScansPerformed},
                                   {"entries", report.backgroundScan->entries.size()}};
    }
    if (report.ports) {
        value["ports"] = json::array();
        for (const ProtocolPort& port : *report.ports) {
            json phys = json::array();
            for (const SasPhy& phy : port.phys) {
                phys.push_back({{"phy", phy.identifier},
                                {"linkRate", LinkRateName(phy.linkRate)},
                                {"sasAddress", phy.sasAddress},
                                {"attachedSasAddress", phy.attachedSasAddress},
                                {"invalidDwords", phy.invalidDwords},
                                {"disparityErrors", phy.disparityErrors},
                                {"lossOfDwordSync", phy.lossOfSync},
                                {"phyResetProblems", phy.resetProblems}});
            }
            value["ports"].push_back({{"port", port.relativePort}, {"protocol", port.protocol}, {"phys", phys}});
        }
    }
    Put(value, "grownDefects", report.grownDefects);
}

}  // namespace

json HealthJson(const HealthReport& report)
{
    json value = {{"verdict", HealthVerdict(report)},
                  {"ok", HealthVerdictOk(report)},
                  {"bits", HealthBits(report)},
                  {"reached", report.reached},
                  {"lines", json::array()}};
    for (const HealthLine& line : HealthReportLines(report)) {
        value["lines"].push_back(line.text);
    }
    if (report.reached && report.identityOutcome.state == PageOutcome::READ) {
        PutPages(value, report);
        PutFigures(value, report);
    }
    return value;
}

json SelfTestJson(const SelfTestOutcome& outcome, const std::vector<std::string>& lines)
{
    json value = {{"action", outcome.action == SelfTestAction::Short      ? "short"
                             : outcome.action == SelfTestAction::Extended ? "extended"
                                                                          : "abort"},
                  {"reached", outcome.reached},
                  {"bits", outcome.bits},
                  {"lines", lines}};
    if (outcome.refused) {
        value["refused"] = Sense(*outcome.refused);
    }
    if (outcome.newest) {
        value["newest"] = Entry(*outcome.newest);
    }
    return value;
}
