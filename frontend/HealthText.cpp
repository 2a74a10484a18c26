#include "frontend/HealthText.h"

#include "frontend/TextFormat.h"

#include <algorithm>

namespace {

using Lines = std::vector<HealthLine>;

std::string Count(std::uint64_t value) { return Format("%llu", static_cast<unsigned long long>(value)); }

// "name value" for each counter that was read, joined by ", ".
class FieldList {
public:
    void Add(const char* name, const std::optional<std::uint64_t>& value)
    {
        if (value) {
            m_text += (m_text.empty() ? "" : ", ") + std::string(name) + " " + Count(*value);
        }
    }
    bool Empty() const { return m_text.empty(); }
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
};

std::string PageTitle(int code) { return Format("%s (page %2.2Xh)", HealthPageName(code), code); }

void AddCounters(Lines& lines, int code, const ErrorCounters& counters)
{
    FieldList fields;
    fields.Add("corrected without delay", counters.correctedFast);
    fields.Add("corrected with delay", counters.correctedDelayed);
    fields.Add(code == log_page::kWriteErrors ? "rewrites" : "rereads", counters.repeated);
    fields.Add("corrected in total", counters.corrected);
    fields.Add("correction algorithm runs", counters.algorithmRuns);
    fields.Add("bytes processed", counters.bytesProcessed);
    fields.Add("uncorrected", counters.uncorrected);
    const bool alarm = counters.uncorrected.value_or(0) != 0;
    lines.push_back({std::string(HealthPageName(code)) + ": " + (fields.Empty() ? "no counters" : fields.Text()),
                     alarm});
}

void AddExceptions(Lines& lines, const InformationalExceptions& exceptions, bool predicted)
{
    if (!exceptions.asc) {
        lines.push_back({"Informational exceptions: no exception parameter", false});
        return;
    }
    const std::string codes = Format("ASC/ASCQ %2.2Xh/%2.2Xh", *exceptions.asc, exceptions.ascq.value_or(0));
    std::string text = *exceptions.asc == 0 ? "Informational exceptions: none (" + codes + ")"
                       : predicted          ? "Informational exceptions: failure predicted (" + codes + ")"
                                            : "Informational exceptions: warning (" + codes + ")";
    if (exceptions.temperature) {
        text += Format(", last temperature %d C", *exceptions.temperature);
    }
    lines.push_back({text, *exceptions.asc != 0});
}

void AddTemperatures(Lines& lines, const Temperatures& temperatures)
{
    if (!temperatures.current && !temperatures.reference) {
        lines.push_back({"Temperature: no reading", false});
        return;
    }
    const bool hot = temperatures.current && temperatures.reference && *temperatures.current >= *temperatures.reference;
    if (temperatures.current) {
        lines.push_back({Format("Current temperature: %d C", *temperatures.current), hot});
    }
    if (temperatures.reference) {
        lines.push_back({Format("Reference temperature: %d C", *temperatures.reference), hot});
    }
}

void AddStartStop(Lines& lines, const StartStopCounters& counters)
{
    const std::size_t before = lines.size();
    if (counters.manufactured) {
        lines.push_back({"Manufactured: " + *counters.manufactured, false});
    }
    if (counters.accountingDate) {
        lines.push_back({"Accounting date: " + *counters.accountingDate, false});
    }
    const auto cycles = [&lines](const char* name, const auto& count, const auto& specified) {
        if (count) {
            lines.push_back({std::string(name) + ": " + Count(*count) +
                                 (specified ? " of " + Count(*specified) + " specified" : std::string()),
                             false});
        } else if (specified) {
            lines.push_back({std::string(name) + " specified: " + Count(*specified), false});
        }
    };
    cycles("Start-stop cycles", counters.cycles, counters.specifiedCycles);
    cycles("Load-unload cycles", counters.loads, counters.specifiedLoads);
    if (lines.size() == before) {
        lines.push_back({"Start-stop cycle counter: no counters", false});
    }
}

void AddSelfTests(Lines& lines, const std::vector<SelfTestRecord>& entries)
{
    if (entries.empty()) {
        lines.push_back({"Self-test log: no self test has run", false});
        return;
    }
    lines.push_back({Format("Self-test log: %zu %s, newest first", entries.size(),
                            entries.size() == 1 ? "entry" : "entries"),
                     false});
    for (const SelfTestRecord& entry : entries) {
        lines.push_back({"  " + SelfTestEntryText(entry), IsSelfTestFailure(entry.result)});
    }
}

void AddBackgroundScan(Lines& lines, const BackgroundScan& scan)
{
    if (scan.status) {
        const BackgroundScanStatus& status = *scan.status;
        lines.push_back({Format("Background scan: %s, %u scans and %u medium scans performed, progress %.2f %%, "
                                "power-on time %u minutes",
                                BackgroundScanStatusName(status.status), status.scansPerformed,
                                status.mediumScansPerformed, status.progress * 100.0 / 65536.0,
                                status.powerOnMinutes),
                         status.status >= 3 && status.status <= 7});
    } else {
        lines.push_back({"Background scan: no status parameter", false});
    }
    for (const MediumScanRecord& entry : scan.entries) {
        lines.push_back({Format("  medium scan entry %d: LBA %llu, sense %2.2X/%2.2X/%2.2X, reassign status %Xh, at %u "
                                "power-on minutes",
                                entry.number, static_cast<unsigned long long>(entry.lba), entry.key, entry.asc,
                                entry.ascq, entry.reassignStatus, entry.powerOnMinutes),
                         false});
    }
}

void AddPorts(Lines& lines, const std::vector<ProtocolPort>& ports)
{
    if (ports.empty()) {
        lines.push_back({"Protocol-specific port: no ports", false});
    }
    for (const ProtocolPort& port : ports) {
        if (port.phys.empty()) {
            lines.push_back({Format("Port %d: protocol %Xh, no phy decoded", port.relativePort, port.protocol), false});
        }
        for (const SasPhy& phy : port.phys) {
            const bool errors = phy.invalidDwords + phy.disparityErrors + phy.lossOfSync + phy.resetProblems != 0;
            lines.push_back({Format("Port %d phy %d: SAS %s, address 0x%016llX, attached 0x%016llX, invalid dwords "
                                    "%u, disparity errors %u, loss of dword sync %u, phy reset problems %u",
                                    port.relativePort, phy.identifier, LinkRateName(phy.linkRate),
                                    static_cast<unsigned long long>(phy.sasAddress),
                                    static_cast<unsigned long long>(phy.attachedSasAddress), phy.invalidDwords,
                                    phy.disparityErrors, phy.lossOfSync, phy.resetProblems),
                             errors});
        }
    }
}

void AddPage(Lines& lines, int code, const HealthReport& report)
{
    switch (code) {
    case log_page::kInformationalExceptions:
        if (report.exceptions) AddExceptions(lines, *report.exceptions, PredictsFailure(report));
        break;
    case log_page::kTemperature:
        if (report.temperatures) AddTemperatures(lines, *report.temperatures);
        break;
    case log_page::kWriteErrors:
        if (report.writeErrors) AddCounters(lines, code, *report.writeErrors);
        break;
    case log_page::kReadErrors:
        if (report.readErrors) AddCounters(lines, code, *report.readErrors);
        break;
    case log_page::kVerifyErrors:
        if (report.verifyErrors) AddCounters(lines, code, *report.verifyErrors);
        break;
    case log_page::kNonMediumErrors:
        lines.push_back({report.nonMediumErrors ? "Non-medium errors: " + Count(*report.nonMediumErrors)
                                                : std::string("Non-medium errors: no counter"),
                         false});
        break;
    case log_page::kStartStop:
        if (report.startStop) AddStartStop(lines, *report.startStop);
        break;
    case log_page::kSelfTestResults:
        if (report.selfTests) AddSelfTests(lines, *report.selfTests);
        break;
    case log_page::kBackgroundScan:
        if (report.backgroundScan) AddBackgroundScan(lines, *report.backgroundScan);
        break;
    case log_page::kProtocolPort:
        if (report.ports) AddPorts(lines, *report.ports);
        break;
    default: break;
    }
}

void AddPages(Lines& lines, const HealthReport& report)
{
    for (const int code : HealthPages()) {
        const auto found = report.pages.find(code);
        if (found == report.pages.end()) {
            lines.push_back({PageTitle(code) + ": not supported", false});
            continue;
        }
        const PageOutcome& outcome = found->second;
        if (outcome.state != PageOutcome::READ) {
            lines.push_back({PageTitle(code) + ": LOG SENSE failed: " + SenseCodesText(outcome.sense), true});
            continue;
        }
        AddPage(lines, code, report);
        if (outcome.cut) {
            lines.push_back({PageTitle(code) + ": a parameter runs past the page; it was not read", false});
        }
    }
}

void AddLogs(Lines& lines, const HealthReport& report)
{
    switch (report.supportedOutcome.state) {
    case PageOutcome::UNSUPPORTED:
        lines.push_back({"The drive offers no logs (LOG SENSE refused: " + SenseCodesText(report.supportedOutcome.sense) + ")",
                         false});
        return;
    case PageOutcome::FAILED:
        lines.push_back({"Supported log pages: LOG SENSE failed: " + SenseCodesText(report.supportedOutcome.sense), true});
        return;
    default: break;
    }
    std::string list = "Supported log pages:";
    for (const int code : report.supported) {
        list += Format(" %2.2Xh", code);
    }
    lines.push_back({list, false});
    AddPages(lines, report);
}

void AddDefects(Lines& lines, const HealthReport& report)
{
    switch (report.defectOutcome.state) {
    case PageOutcome::UNSUPPORTED:
        lines.push_back({"Grown defects: READ DEFECT DATA not supported", false});
        break;
    case PageOutcome::FAILED:
        lines.push_back({"Grown defects: READ DEFECT DATA failed: " + SenseCodesText(report.defectOutcome.sense), true});
        break;
    case PageOutcome::READ:
        if (report.grownDefects) {
            lines.push_back({"Grown defects: " + Count(*report.grownDefects), *report.grownDefects != 0});
        } else {
            lines.push_back({"Grown defects: the list came in a format without a known descriptor size", false});
        }
        break;
    case PageOutcome::NOT_LISTED: break;
    }
}

std::string IdentityText(const HealthReport& report)
{
    std::string text = "Drive " + report.address + ":";
    for (const std::string* field : {&report.vendor, &report.product, &report.revision}) {
        if (!field->empty()) {
            text += " " + *field;
        }
    }
    if (!report.serial.empty()) {
        text += ", serial " + report.serial;
    }
    return text;
}

std::vector<std::string> Reasons(const HealthReport& report)
{
    std::vector<std::string> reasons;
    const unsigned bits = HealthBits(report);
    if (!report.reached) {
        return {"the device could not be reached"};
    }
    if (report.identityOutcome.state != PageOutcome::READ) {
        reasons.push_back("INQUIRY failed: " + SenseCodesText(report.identityOutcome.sense));
    }
    if ((bits & health_bit::kPredictedFailure) != 0) {
        const SenseCodes codes = report.exceptions && report.exceptions->asc && *report.exceptions->asc != 0
                                     ? SenseCodes{0, *report.exceptions->asc, report.exceptions->ascq.value_or(0)}
                                     : report.reportedException.value_or(SenseCodes{});
        reasons.push_back(Format("failure predicted (ASC/ASCQ %2.2Xh/%2.2Xh)", codes.asc, codes.ascq));
    }
    const auto ie = report.pages.find(log_page::kInformationalExceptions);
    if (ie != report.pages.end() && ie->second.state != PageOutcome::READ) {
        reasons.push_back("the informational exceptions page could not be read");
    }
    if ((bits & health_bit::kHot) != 0) {
        reasons.push_back("temperature at or above the reference");
    }
    if ((bits & health_bit::kUncorrected) != 0) {
        reasons.push_back("uncorrected errors logged");
    }
    if ((bits & health_bit::kSelfTestFailed) != 0) {
        reasons.push_back("the self-test log holds a failure");
    }
    return reasons;
}

}  // namespace

std::string SenseCodesText(const SenseCodes& sense)
{
    return Format("%2.2X/%2.2X/%2.2X", sense.key, sense.asc, sense.ascq);
}

const char* HealthPageName(int code)
{
    switch (code) {
    case log_page::kWriteErrors: return "Write error counters";
    case log_page::kReadErrors: return "Read error counters";
    case log_page::kVerifyErrors: return "Verify error counters";
    case log_page::kNonMediumErrors: return "Non-medium errors";
    case log_page::kTemperature: return "Temperature";
    case log_page::kStartStop: return "Start-stop cycle counter";
    case log_page::kSelfTestResults: return "Self-test log";
    case log_page::kBackgroundScan: return "Background scan results";
    case log_page::kProtocolPort: return "Protocol-specific port";
    case log_page::kInformationalExceptions: return "Informational exceptions";
    default: return "Log page";
    }
}

std::string SelfTestEntryText(const SelfTestRecord& entry)
{
    std::string text = Format("#%-2d %s, %s, segment %d, at %u power-on hours", entry.number,
                              SelfTestCodeName(entry.code), SelfTestResultName(entry.result), entry.segment,
                              static_cast<unsigned>(entry.hours));
    if (entry.failedLba) {
        text += ", first failure at LBA " + Count(*entry.failedLba);
    }
    if (entry.key != 0 || entry.asc != 0 || entry.ascq != 0) {
        text += Format(", sense %2.2X/%2.2X/%2.2X", entry.key, entry.asc, entry.ascq);
    }
    return text;
}

std::string HealthVerdict(const HealthReport& report)
{
    const std::vector<std::string> reasons = Reasons(report);
    if (reasons.empty()) {
        return "SCSI health: OK";
    }
    std::string text = "SCSI health: FAILED: ";
    for (std::size_t i = 0; i < reasons.size(); ++i) {
        text += (i == 0 ? "" : "; ") + reasons[i];
    }
    return text;
}

bool HealthVerdictOk(const HealthReport& report) { return Reasons(report).empty(); }

std::vector<HealthLine> HealthReportLines(const HealthReport& report)
{
    Lines lines;
    if (!report.reached) {
        lines.push_back({"Drive " + report.address + ": the device could not be reached", true});
    } else if (report.identityOutcome.state != PageOutcome::READ) {
        lines.push_back({"Drive " + report.address + ": INQUIRY failed: " + SenseCodesText(report.identityOutcome.sense), true});
    } else {
        lines.push_back({IdentityText(report), false});
        AddLogs(lines, report);
        if (report.reportedException && !report.exceptions) {
            lines.push_back({Format("Informational exception reported by the drive: ASC/ASCQ %2.2Xh/%2.2Xh",
                                    report.reportedException->asc, report.reportedException->ascq),
                             true});
        }
        AddDefects(lines, report);
    }
    const std::string verdict = HealthVerdict(report);
    lines.push_back({verdict, !HealthVerdictOk(report)});
    return lines;
}
