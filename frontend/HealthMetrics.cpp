#include "frontend/HealthMetrics.h"

#include "frontend/HealthText.h"
#include "frontend/TextFormat.h"
#include "platform/RegistryFile.h"

#include <algorithm>
#include <map>

namespace {

struct Family {
    std::string help;
    std::string type;
    std::string samples;
};

// Label values escape backslash, double quote and line feed.
std::string Escaped(const std::string& value)
{
    std::string text;
    for (const char c : value) {
        if (c == '\\' || c == '"') {
            text += '\\';
            text += c;
        } else if (c == '\n') {
            text += "\\n";
        } else {
            text += c;
        }
    }
    return text;
}

using Labels = std::vector<std::pair<std::string, std::string>>;

class Exposition {
public:
    void Add(const std::string& name, const char* type, const char* help, const Labels& labels, double value)
    {
        auto [family, added] = m_families.try_emplace(name);
        if (added) {
            m_order.push_back(name);
            family->second.help = help;
            family->second.type = type;
        }
        std::string text = name + "{";
        for (std::size_t i = 0; i < labels.size(); ++i) {
            text += (i == 0 ? "" : ",") + labels[i].first + "=\"" + Escaped(labels[i].second) + "\"";
        }
        family->second.samples += text + "} " + Format("%.17g", value) + "\n";
    }

    std::string Text() const
    {
        std::string text;
        for (const std::string& name : m_order) {
            const Family& family = m_families.at(name);
            text += "# HELP " + name + " " + family.help + "\n# TYPE " + name + " " + family.type + "\n" +
                    family.samples;
        }
        return text;
    }

private:
    std::map<std::string, Family> m_families;
    std::vector<std::string> m_order;
};

void AddCounters(Exposition& out, const Labels& device, const char* operation,
                 const std::optional<ErrorCounters>& counters)
{
    if (!counters) {
        return;
    }
    Labels labels = device;
    labels.emplace_back("operation", operation);
    if (counters->corrected) {
        out.Add("harrow_scsi_errors_corrected_total", "counter", "Errors the drive corrected (log pages 02h, 03h, 05h).",
                labels, static_cast<double>(*counters->corrected));
    }
    if (counters->uncorrected) {
        out.Add("harrow_scsi_errors_uncorrected_total", "counter", "Errors the drive could not correct.", labels,
                static_cast<double>(*counters->uncorrected));
    }
    if (counters->bytesProcessed) {
        out.Add("harrow_scsi_processed_bytes_total", "counter", "Bytes the drive processed for the operation.",
                labels, static_cast<double>(*counters->bytesProcessed));
    }
}

void AddPageFigures(Exposition& out, const Labels& device, const HealthReport& report)
{
    if (report.temperatures && report.temperatures->current) {
        out.Add("harrow_scsi_temperature_celsius", "gauge", "Current drive temperature (log page 0Dh).", device,
                *report.temperatures->current);
    }
    if (report.temperatures && report.temperatures->reference) {
        out.Add("harrow_scsi_reference_temperature_celsius", "gauge",
                "Highest temperature the maker rates the drive for (log page 0Dh).", device,
                *report.temperatures->reference);
    }
    AddCounters(out, device, "write", report.writeErrors);
    AddCounters(out, device, "read", report.readErrors);
    AddCounters(out, device, "verify", report.verifyErrors);
    if (report.nonMediumErrors) {
        out.Add("harrow_scsi_non_medium_errors_total", "counter", "Errors not related to the medium (log page 06h).",
                device, static_cast<double>(*report.nonMediumErrors));
    }
    if (report.startStop && report.startStop->cycles) {
        out.Add("harrow_scsi_start_stop_cycles_total", "counter", "Accumulated start-stop cycles (log page 0Eh).",
                device, static_cast<double>(*report.startStop->cycles));
    }
    if (report.startStop && report.startStop->loads) {
        out.Add("harrow_scsi_load_unload_cycles_total", "counter", "Accumulated load-unload cycles (log page 0Eh).",
                device, static_cast<double>(*report.startStop->loads));
    }
    if (report.selfTests) {
        const auto failures = std::count_if(report.selfTests->begin(), report.selfTests->end(),
                                            [](const SelfTestRecord& r) { return IsSelfTestFailure(r.result); });
        out.Add("harrow_scsi_self_test_failures", "gauge", "Failed self tests in the self-test log (log page 10h).",
                device, static_cast<double>(failures));
    }
    if (report.backgroundScan && report.backgroundScan->status) {
        out.Add("harrow_scsi_power_on_minutes", "counter", "Power-on time (background scan page 15h).", device,
                report.backgroundScan->status->powerOnMinutes);
    }
    if (report.ports) {
        for (const ProtocolPort& port : *report.ports) {
            for (const SasPhy& phy : port.phys) {
                Labels labels = device;
                labels.emplace_back("port", std::to_string(port.relativePort));
                labels.emplace_back("phy", std::to_string(phy.identifier));
                out.Add("harrow_scsi_sas_invalid_dwords_total", "counter", "Invalid dwords a SAS phy saw (page 18h).",
                        labels, phy.invalidDwords);
                out.Add("harrow_scsi_sas_phy_reset_problems_total", "counter",
                        "Phy reset problems of a SAS phy (page 18h).", labels, phy.resetProblems);
            }
        }
    }
}

void AddDrive(Exposition& out, const HealthReport& report)
{
    const Labels device{{"device", report.address}};
    out.Add("harrow_scsi_reachable", "gauge", "1 when the device answered.", device, report.reached ? 1 : 0);
    if (!report.reached) {
        return;
    }
    Labels info = device;
    info.insert(info.end(), {{"vendor", report.vendor},
                             {"product", report.product},
                             {"revision", report.revision},
                             {"serial", report.serial}});
    out.Add("harrow_scsi_device_info", "gauge", "Identity of the device (INQUIRY).", info, 1);
    const unsigned bits = HealthBits(report);
    out.Add("harrow_scsi_health_ok", "gauge", "1 when the health verdict is OK, 0 when it is FAILED.", device,
            HealthVerdictOk(report) ? 1 : 0);
    out.Add("harrow_scsi_health_status_bits", "gauge", "Exit-status bits of HarrowCLI --health for the drive.", device,
            bits);
    if (report.exceptions || report.reportedException) {
        out.Add("harrow_scsi_failure_predicted", "gauge", "1 when the drive predicts its failure (IE, ASC 5Dh).",
                device, PredictsFailure(report) ? 1 : 0);
    }
    if (report.grownDefects) {
        out.Add("harrow_scsi_grown_defects", "gauge", "Entries of the grown defect list.", device,
                static_cast<double>(*report.grownDefects));
    }
    AddPageFigures(out, device, report);
}

}  // namespace

std::string HealthMetricsText(const std::vector<HealthReport>& reports)
{
    Exposition out;
    for (const HealthReport& report : reports) {
        AddDrive(out, report);
    }
    return out.Text();
}

bool ReplaceFileAtomically(const std::filesystem::path& file, const std::string& text, std::string& error)
{
    // The registry's writer: a lock beside the file, a temporary file, fsync, rename.
    harrow::platform::RegistryFile writer(file.string());
    std::string reason;
    if (!writer.Lock(&reason) || !writer.Replace(text, &reason)) {
        error = file.string() + ": " + reason;
        return false;
    }
    return true;
}
