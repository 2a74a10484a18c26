#include "cli/JsonReport.h"

#include "cli/LinuxDeviceNames.h"
#include "core/types/SenseView.h"
#include "frontend/Capacity.h"
#include "frontend/TextFormat.h"

#include <cmath>
#include <cstdlib>

using nlohmann::json;

namespace {

// Raised when a member changes meaning; added members keep the number.
constexpr int kFormatVersion = 1;
constexpr std::uint8_t kNotRead = 0xFF;

JsonReport* g_active = nullptr;

constexpr std::size_t kSelfTestEntry = 4;
// Result codes of a self test that failed: the entry names where and why.
constexpr int kFirstFailureResult = 3;
constexpr int kLastFailureResult = 7;
constexpr std::uint64_t kNoAddress = ~std::uint64_t{0};

const char* CommandName(CliCommand command)
{
    switch (command) {
    case CMD_USAGE: return "usage";
    case CMD_VERSION: return "version";
    case CMD_COPYRIGHT: return "copyright";
    case CMD_RMA: return "rma";
    case CMD_LIST: return "list";
    case CMD_INQUIRY: return "inquiry";
    case CMD_SHORT_DST: return "short-self-test";
    case CMD_LONG_DST: return "long-self-test";
    case CMD_STOP_DST: return "stop-self-test";
    case CMD_GENERIC_SHORT: return "generic-short-test";
    case CMD_GENERIC_LONG: return "generic-long-test";
    case CMD_HEALTH: return "health";
    case CMD_SELF_TEST: return "self-test";
    case CMD_METRICS: return "metrics";
    case CMD_NONE: break;
    }
    return "none";
}

const char* StateName(TestState state)
{
    switch (state) {
    case TEST_RUNNING: return "running";
    case TEST_PASSED: return "passed";
    case TEST_ABORTED: return "aborted";
    case TEST_FAILED: return "failed";
    case TEST_NONE: break;
    }
    return "none";
}

std::string AddressText(const DeviceRecord& record)
{
    switch (record.kind) {
    case KIND_RAID:
        return Format("%d:%d:%d:%d:%d", record.hostAdapter, record.raidTarget, record.channel, record.target,
                      record.lun);
    case KIND_CHANNEL_ALT:
    case KIND_CHANNEL:
        return Format("%d:%d:%d:%d", record.hostAdapter, record.channel, record.target, record.lun);
    default:
        return Format("%d:%d:%d", record.hostAdapter, record.target, record.lun);
    }
}

json DevNames(const DeviceRecord& record)
{
    json names = json::array();
    const LinuxDeviceNames* linuxNames = ActiveDeviceNames();
    if (linuxNames == nullptr || record.kind != KIND_PLAIN) {
        return names;
    }
    if (const LinuxUnitNodes* unit = linuxNames->AtListed(record.hostAdapter, record.target, record.lun)) {
        for (const std::string& block : unit->blockNodes) {
            names.push_back(block);
        }
        if (!unit->genericNode.empty()) {
            names.push_back(unit->genericNode);
        }
    }
    return names;
}

json CapacityJson(const CapacityReading& capacity)
{
    if (!capacity.read) {
        return nullptr;
    }
    const std::uint64_t blocks = capacity.lastLba + 1;
    return {{"lastLba", capacity.lastLba},
            {"blocks", blocks},
            {"blockSize", capacity.blockLength},
            {"bytes", blocks * capacity.blockLength},
            {"megabytes", RoundedMegabytes(capacity.lastLba, capacity.blockLength)}};
}

// INQUIRY pads its fields with blanks; a script compares the names.
std::string Trimmed(const std::string& text)
{
    const auto end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

json IdentityJson(const DeviceIdentity& identity)
{
    return {{"vendor", Trimmed(identity.vendor)},
            {"product", Trimmed(identity.product)},
            {"revision", Trimmed(identity.revision)},
            {"serialNumber", Trimmed(identity.serialNumber)}};
}

// Milliseconds are all a reader of test times needs.
double Rounded(double seconds) { return std::round(seconds * 1000.0) / 1000.0; }

// The self test the program stops at the percentage asked for is still
// running in the record; the run has ended all the same.
const char* EndState(const DeviceRecord& record, int result)
{
    if (record.state == TEST_RUNNING) {
        return result == 0 ? "passed" : "failed";
    }
    return StateName(record.state);
}

json SenseJson(const DeviceRecord& record)
{
    const SenseView sense(record.sense);
    if (!sense.Known()) {
        return nullptr;
    }
    return {{"key", sense.Key()}, {"asc", sense.Asc()}, {"ascq", sense.Ascq()}, {"fru", sense.Fru()}};
}

json ValueOrNull(std::uint8_t value) { return value == kNotRead ? json(nullptr) : json(value); }

}  // namespace

json AddressJson(const DeviceRecord& record)
{
    json address = {{"address", AddressText(record)},
                    {"hostAdapter", record.hostAdapter},
                    {"target", record.target},
                    {"lun", record.lun},
                    {"devNames", DevNames(record)}};
    if (record.kind == KIND_CHANNEL || record.kind == KIND_CHANNEL_ALT || record.kind == KIND_RAID) {
        address["channel"] = record.channel;
    }
    if (record.kind == KIND_RAID) {
        address["raidTarget"] = record.raidTarget;
    }
    return address;
}

JsonReport::JsonReport(std::vector<std::string> arguments)
{
    const char* machine = std::getenv("HARROW_MACHINE");
    m_doc = {{"format", kFormatVersion},
             {"program", "HarrowCLI"},
             {"version", HARROW_VERSION},
             {"machine", machine != nullptr && *machine != '\0' ? machine : "builtin"},
             {"arguments", std::move(arguments)},
             {"command", "none"}};
}

void JsonReport::SetCommand(CliCommand command)
{
    m_doc["command"] = CommandName(command);
    // A machine without adapters still lists them: none.
    if (command == CMD_LIST) {
        m_doc["adapters"] = json::array();
    }
}

void JsonReport::SetError(const std::string& message) { m_doc["error"] = message; }

void JsonReport::SetSection(const std::string& name, nlohmann::json value) { m_doc[name] = std::move(value); }

void JsonReport::AddAdapter(const AdapterInfo& info)
{
    json adapter = {{"port", info.number},
                    {"scsiId", info.scsiId},
                    {"aspiString", info.aspiString},
                    {"adapterString", info.adapterString},
                    {"devices", json::array()}};
    if (info.channel >= 0) {
        adapter["channel"] = info.channel;
    }
    m_doc["adapters"].push_back(std::move(adapter));
}

void JsonReport::AddListedDevice(const DeviceRecord& record, int type, const DeviceIdentity& identity, bool kestrel,
                                 const CapacityReading& capacity, bool ready)
{
    json device = AddressJson(record);
    device["type"] = type;
    device["typeName"] = Trimmed(TypeName(type));
    device.update(IdentityJson(identity));
    device["kestrel"] = kestrel;
    device["capacity"] = CapacityJson(capacity);
    device["ready"] = ready;
    m_doc["adapters"].back()["devices"].push_back(std::move(device));
}

void JsonReport::SetDevice(const DeviceRecord& record) { m_doc["device"] = AddressJson(record); }

void JsonReport::SetIdentity(const DeviceIdentity& identity, bool kestrel)
{
    m_doc["device"].update(IdentityJson(identity));
    m_doc["device"]["kestrel"] = kestrel;
}

void JsonReport::SetInquiryText(const char* field, const std::string& text) { m_doc["inquiry"][field] = text; }

void JsonReport::SetCapacity(int type, const CapacityReading& capacity)
{
    m_doc["device"]["type"] = type;
    m_doc["device"]["typeName"] = Trimmed(TypeName(type));
    m_doc["device"]["capacity"] = CapacityJson(capacity);
}

void JsonReport::SetDst(bool supported, int longSeconds)
{
    json dst = {{"supported", supported}};
    if (supported) {
        dst["shortSeconds"] = 120;
        dst["longSeconds"] = longSeconds;
    }
    m_doc["inquiry"]["selfTest"] = std::move(dst);
}

void JsonReport::SetModeField(const char* field, std::uint8_t current, std::uint8_t fallback)
{
    m_doc["inquiry"]["modePages"][field] = {{"current", ValueOrNull(current)}, {"default", ValueOrNull(fallback)}};
}

void JsonReport::BeginTest(const std::string& kind, int percent)
{
    m_testStart = std::chrono::steady_clock::now();
    m_testRunning = true;
    m_doc["test"] = {{"kind", kind}, {"percent", percent}, {"phases", json::array()}};
}

void JsonReport::SetTestKind(const std::string& kind) { m_doc["test"]["kind"] = kind; }

void JsonReport::NoteLine(const std::string& text)
{
    if (!m_testRunning) {
        return;
    }
    json& phases = m_doc["test"]["phases"];
    const double now = Seconds();
    if (!phases.empty()) {
        json& last = phases.back();
        last["seconds"] = Rounded(now - last["startSeconds"].get<double>());
    }
    const auto first = text.find_first_not_of(" \t\n");
    const auto end = text.find_last_not_of(" \t\n");
    phases.push_back({{"text", first == std::string::npos ? "" : text.substr(first, end - first + 1)},
                      {"startSeconds", Rounded(now)},
                      {"seconds", 0.0}});
}

void JsonReport::EndTest(const DeviceRecord& record, int result)
{
    const double duration = Seconds();
    json& test = m_doc["test"];
    if (!test["phases"].empty()) {
        json& last = test["phases"].back();
        last["seconds"] = Rounded(duration - last["startSeconds"].get<double>());
    }
    test["legacy"] = record.isKestrel != 0;
    test["result"] = result;
    test["state"] = EndState(record, result);
    test["status"] = record.statusText;
    test["sense"] = SenseJson(record);
    test["durationSeconds"] = Rounded(duration);
    m_testRunning = false;
}

bool JsonReport::RanSelfTest() const
{
    const std::string kind = m_doc["test"].value("kind", "");
    return kind == "short-self-test" || kind == "long-self-test" || kind == "stop-self-test";
}

void JsonReport::SetSelfTestEntry(const std::uint8_t* page)
{
    // SPC-4 7.3.15: the newest self-test results parameter follows the 4-byte page header.
    const std::uint8_t* entry = page + kSelfTestEntry;
    const int result = entry[4] & 0x0F;
    json log = {{"code", entry[4] >> 5},
                {"result", result},
                {"segment", entry[5]},
                {"powerOnHours", (entry[6] << 8) | entry[7]},
                {"failingLba", nullptr},
                {"sense", nullptr}};
    if (result >= kFirstFailureResult && result <= kLastFailureResult) {
        std::uint64_t lba = 0;
        for (int i = 8; i < 16; ++i) {
            lba = (lba << 8) | entry[i];
        }
        // All ones: the drive names no address (SPC-4).
        if (lba != kNoAddress) {
            log["failingLba"] = lba;
        }
        log["sense"] = {{"key", entry[16] & 0x0F}, {"asc", entry[17]}, {"ascq", entry[18]}, {"fru", 0}};
    }
    m_doc["test"]["selfTestLog"] = std::move(log);
}

std::string JsonReport::Document(int exitCode) const
{
    json doc = m_doc;
    doc["exitCode"] = exitCode;
    // Texts from drives and paths are not always UTF-8; the document still is.
    return doc.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

double JsonReport::Seconds() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_testStart).count();
}

JsonReport* ActiveJson() { return g_active; }

void SetActiveJson(JsonReport* report) { g_active = report; }
