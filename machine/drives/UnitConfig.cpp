#include "machine/drives/UnitConfig.h"

#include "machine/drives/DriveFactory.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>

namespace harrow::machine::drives {
namespace {

using nlohmann::json;

constexpr std::size_t kMaxGrownDefects = 256;  // what the drive's list holds

// Reads typed fields of one JSON object; every complaint names the field.
class FieldReader {
public:
    FieldReader(const json& object, std::string where) : m_object(object), m_where(std::move(where))
    {
        if (!m_object.is_object()) {
            Fail("", "must be an object");
        }
    }

    [[noreturn]] void Fail(const std::string& key, const std::string& problem) const
    {
        throw MachineFileError(m_where + (key.empty() ? "" : "." + key) + ": " + problem);
    }

    void OnlyKeys(std::initializer_list<const char*> keys) const
    {
        for (const auto& item : m_object.items()) {
            if (std::none_of(keys.begin(), keys.end(), [&](const char* k) { return item.key() == k; })) {
                Fail(item.key(), "is not a known field");
            }
        }
    }

    bool Has(const char* key) const { return m_object.contains(key); }

    std::string Text(const char* key, const std::string& fallback, std::size_t maxLength) const
    {
        if (!Has(key)) {
            return fallback;
        }
        const json& value = m_object.at(key);
        if (!value.is_string()) {
            Fail(key, "must be a string");
        }
        const auto text = value.get<std::string>();
        if (text.size() > maxLength) {
            Fail(key, "must be at most " + std::to_string(maxLength) + " characters");
        }
        if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) {
            Fail(key, "must be printable ASCII");
        }
        return text;
    }

    std::uint64_t Number(const char* key, std::uint64_t fallback, std::uint64_t low, std::uint64_t high) const
    {
        if (!Has(key)) {
            return fallback;
        }
        return Whole(m_object.at(key), key, low, high);
    }

    double Seconds(const char* key, double fallback) const
    {
        if (!Has(key)) {
            return fallback;
        }
        const json& value = m_object.at(key);
        if (!value.is_number() || !std::isfinite(value.get<double>()) || value.get<double>() < 0 ||
            value.get<double>() > 1e7) {
            Fail(key, "must be a number of seconds from 0 to 10000000");
        }
        return value.get<double>();
    }

    bool Flag(const char* key, bool fallback) const
    {
        if (!Has(key)) {
            return fallback;
        }
        if (!m_object.at(key).is_boolean()) {
            Fail(key, "must be true or false");
        }
        return m_object.at(key).get<bool>();
    }

    const json* Object(const char* key) const { return Has(key) ? &m_object.at(key) : nullptr; }
    std::string Path(const char* key) const { return m_where + "." + key; }

    std::uint64_t Whole(const json& value, const std::string& key, std::uint64_t low, std::uint64_t high) const
    {
        if (!value.is_number_unsigned() && !(value.is_number_integer() && value.get<std::int64_t>() >= 0)) {
            Fail(key, "must be a whole number from " + std::to_string(low) + " to " + std::to_string(high));
        }
        const auto number = value.get<std::uint64_t>();
        if (number < low || number > high) {
            Fail(key, "must be from " + std::to_string(low) + " to " + std::to_string(high));
        }
        return number;
    }

private:
    const json& m_object;
    std::string m_where;
};

UnitType ParseType(const FieldReader& fields)
{
    const std::string type = fields.Text("type", "disk", 16);
    if (type == "disk") return UnitType::Disk;
    if (type == "tape") return UnitType::Tape;
    if (type == "cdrom") return UnitType::Cdrom;
    if (type == "changer") return UnitType::Changer;
    fields.Fail("type", "must be \"disk\", \"tape\", \"cdrom\" or \"changer\"");
}

const char* DefaultProduct(UnitType type)
{
    switch (type) {
    case UnitType::Disk: return "KX18LVD";
    case UnitType::Tape: return "SIM TAPE";
    case UnitType::Cdrom: return "SIM CDROM";
    case UnitType::Changer: return "SIM CHANGER";
    }
    return "";
}

std::uint64_t DefaultWwn(const std::string& serial)
{
    std::uint64_t hash = 1469598103934665603ULL;  // FNV-1a: stable across runs
    for (char c : serial) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    }
    return 0x5000C50000000000ULL | (hash & 0x000000FFFFFFFFFFULL);
}

void ParseDurations(const FieldReader& fields, UnitConfig& config)
{
    const json* durations = fields.Object("durations");
    if (!durations) {
        return;
    }
    const FieldReader inner(*durations, fields.Path("durations"));
    inner.OnlyKeys({"shortSelfTest", "longSelfTest", "format", "command"});
    config.shortSelfTestSeconds = inner.Seconds("shortSelfTest", config.shortSelfTestSeconds);
    config.longSelfTestSeconds = inner.Seconds("longSelfTest", config.longSelfTestSeconds);
    config.formatSeconds = inner.Seconds("format", config.formatSeconds);
    config.commandSeconds = inner.Seconds("command", config.commandSeconds);
}

void ParseFirmware(const FieldReader& fields, UnitConfig& config)
{
    static const json empty = json::object();
    const json* firmware = fields.Object("firmware");
    const FieldReader inner(firmware ? *firmware : empty, fields.Path("firmware"));
    inner.OnlyKeys({"scsi", "servoRam", "servoRom", "servoRamDate", "servoRomDate"});
    config.firmware.scsi = inner.Text("scsi", config.revision, 8);
    config.firmware.servoRam = inner.Text("servoRam", "S" + config.revision, 8);
    config.firmware.servoRom = inner.Text("servoRom", "R" + config.revision, 8);
    config.firmware.servoRamDate = inner.Text("servoRamDate", "0105", 4);
    config.firmware.servoRomDate = inner.Text("servoRomDate", "1104", 4);
}

// {"C0": "1B5B324A..."}: a page code and the page's bytes after its header, in hexadecimal.
void ParseVpdPages(const FieldReader& fields, const json* pages, Faults& faults)
{
    if (pages == nullptr) {
        return;
    }
    if (!pages->is_object()) {
        fields.Fail("vpdPages", "must be an object of page codes and hexadecimal bytes");
    }
    constexpr std::size_t kMaxPageBytes = 0xFFFF - 4;
    for (const auto& [code, bytes] : pages->items()) {
        const std::string key = "vpdPages." + code;
        if (code.size() != 2 || code.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            fields.Fail(key, "must be named by a page code of 2 hexadecimal digits");
        }
        if (!bytes.is_string()) {
            fields.Fail(key, "must be a string of hexadecimal digits");
        }
        const auto hex = bytes.get<std::string>();
        if (hex.size() % 2 != 0 || hex.size() / 2 > kMaxPageBytes ||
            hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            fields.Fail(key, "must be an even number of hexadecimal digits, at most " +
                                 std::to_string(kMaxPageBytes) + " bytes");
        }
        std::vector<std::uint8_t> page;
        for (std::size_t i = 0; i < hex.size(); i += 2) {
            page.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        }
        faults.vpdPages[static_cast<int>(std::stoul(code, nullptr, 16))] = std::move(page);
    }
}

std::vector<std::uint64_t> BlockList(const FieldReader& fields, const char* key, std::uint64_t blocks)
{
    std::vector<std::uint64_t> list;
    const json* values = fields.Object(key);
    if (values == nullptr) {
        return list;
    }
    if (!values->is_array()) {
        fields.Fail(key, "must be an array of block addresses");
    }
    for (std::size_t i = 0; i < values->size(); ++i) {
        list.push_back(fields.Whole((*values)[i], std::string(key) + "[" + std::to_string(i) + "]", 0, blocks - 1));
    }
    return list;
}

// The faults a health report finds: a predicted failure, error counters that
// rise, a failed self test in the log, grown defects.
void ParseHealthFaults(const FieldReader& faults, UnitConfig& config)
{
    config.faults.predictedFailure = faults.Flag("predictedFailure", false);
    if (const json* rising = faults.Object("risingErrors")) {
        const FieldReader inner(*rising, faults.Path("risingErrors"));
        inner.OnlyKeys({"corrected", "uncorrected"});
        config.faults.correctedPer1000Hours = inner.Number("corrected", 0, 0, 1000000000);
        config.faults.uncorrectedPer1000Hours = inner.Number("uncorrected", 0, 0, 1000000000);
    }
    if (const json* entry = faults.Object("failedSelfTestEntry")) {
        const FieldReader inner(*entry, faults.Path("failedSelfTestEntry"));
        inner.OnlyKeys({"segment", "lba"});
        config.faults.loggedSelfTestFailure.segment = static_cast<int>(inner.Number("segment", 1, 1, 8));
        config.faults.loggedSelfTestFailure.lba = inner.Number("lba", 0, 0, config.blocks - 1);
    }
    config.faults.grownDefects = BlockList(faults, "grownDefects", config.blocks);
    if (config.faults.grownDefects.size() > kMaxGrownDefects) {
        faults.Fail("grownDefects", "must hold at most " + std::to_string(kMaxGrownDefects) + " blocks");
    }
}

void ParseFaults(const FieldReader& fields, UnitConfig& config)
{
    const json* faults = fields.Object("faults");
    if (!faults) {
        return;
    }
    const FieldReader inner(*faults, fields.Path("faults"));
    inner.OnlyKeys({"mediumErrors", "selfTestFailSegment", "unitAttentions", "notReadyAfterDownload", "busy",
                    "selectionTimeout", "refuseDownload", "resetDuringDownload", "formatFails", "vpdPages", "capacityBytes",
                    "seekFails", "predictedFailure", "risingErrors", "failedSelfTestEntry", "grownDefects"});
    if (inner.Has("mediumErrors")) {
        const json& list = faults->at("mediumErrors");
        if (!list.is_array()) {
            inner.Fail("mediumErrors", "must be an array of block addresses");
        }
        for (std::size_t i = 0; i < list.size(); ++i) {
            config.faults.mediumErrors.insert(inner.Whole(list[i], "mediumErrors[" + std::to_string(i) + "]", 0,
                                                          config.maxBlocks - 1));
        }
    }
    ParseHealthFaults(inner, config);
    config.faults.selfTestFailSegment = static_cast<int>(inner.Number("selfTestFailSegment", 0, 0, 8));
    config.faults.unitAttentions = static_cast<int>(inner.Number("unitAttentions", 0, 0, 1000000));
    config.faults.notReadyAfterDownload = static_cast<int>(inner.Number("notReadyAfterDownload", 0, 0, 1000000));
    config.faults.refuseDownload = inner.Flag("refuseDownload", false);
    config.faults.resetDuringDownload = static_cast<int>(inner.Number("resetDuringDownload", 0, 0, 1000000));
    config.faults.formatFails = inner.Flag("formatFails", false);
    config.faults.busy = static_cast<int>(inner.Number("busy", 0, 0, 1000000));
    config.faults.selectionTimeout = inner.Flag("selectionTimeout", false);
    config.faults.capacityBytes = static_cast<int>(inner.Number("capacityBytes", 8, 0, 8));
    ParseVpdPages(inner, faults->contains("vpdPages") ? &faults->at("vpdPages") : nullptr, config.faults);
    config.faults.seekFails = inner.Flag("seekFails", false);
}

}  // namespace

bool IsValidBlockSize(std::uint64_t size) { return size >= 256 && size <= 4224 && size % 2 == 0; }

bool UnitConfig::IsKestrel() const { return type == UnitType::Disk && vendor == "KESTREL"; }

UnitConfig ParseUnitConfig(const nlohmann::json& unit, const std::string& where)
{
    const FieldReader fields(unit, where);
    fields.OnlyKeys({"bus", "target", "lun", "claimed", "type", "vendor", "product", "revision", "serial", "blocks",
                     "blockSize", "maxBlocks", "dst", "durations", "firmware", "wwn", "temperature", "powerOnHours",
                     "faults", "readDefectData12", "seek", "pmChangeable", "descriptorSense", "serialInInquiry",
                     "maxTransferBlocks", "referenceTemperature"});
    UnitConfig config;
    config.type = ParseType(fields);
    const bool disk = config.type == UnitType::Disk;
    config.vendor = fields.Text("vendor", disk ? "KESTREL" : "HARROW", 8);
    config.product = fields.Text("product", DefaultProduct(config.type), 16);
    config.revision = fields.Text("revision", "K100", 4);
    config.serial = fields.Text("serial", "SIM00001", 8);
    config.serialInInquiry = fields.Flag("serialInInquiry", true);
    const bool cdrom = config.type == UnitType::Cdrom;
    config.blockSize = static_cast<std::uint32_t>(fields.Number("blockSize", cdrom ? 2048 : 512, 256, 4224));
    if (!IsValidBlockSize(config.blockSize)) {
        fields.Fail("blockSize", "must be an even number from 256 to 4224");
    }
    // Capacity is capped at 2^48 bytes so that offsets never overflow.
    const std::uint64_t maxCount = (1ULL << 48) / config.blockSize;
    config.blocks = fields.Number("blocks", cdrom ? 333000 : 2097152, 1, maxCount);
    config.maxBlocks = fields.Number("maxBlocks", config.blocks, config.blocks, maxCount);
    config.maxTransferBlocks = static_cast<std::uint32_t>(fields.Number("maxTransferBlocks", 0, 0, 0xFFFFFFFF));
    config.dst = fields.Flag("dst", true);
    config.readDefectData12 = fields.Flag("readDefectData12", true);
    config.seek = fields.Flag("seek", true);
    config.pmChangeable = fields.Flag("pmChangeable", true);
    config.descriptorSense = fields.Flag("descriptorSense", false);
    ParseDurations(fields, config);
    ParseFirmware(fields, config);
    const std::string wwn = fields.Text("wwn", "", 16);
    if (wwn.empty()) {
        config.wwn = DefaultWwn(config.serial);
    } else {
        if (wwn.size() != 16 || wwn.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            fields.Fail("wwn", "must be 16 hexadecimal digits");
        }
        config.wwn = std::stoull(wwn, nullptr, 16);
    }
    config.temperature = static_cast<int>(fields.Number("temperature", 35, 0, 255));
    config.referenceTemperature = static_cast<int>(fields.Number("referenceTemperature", 60, 0, 255));
    config.powerOnHours = static_cast<std::uint32_t>(fields.Number("powerOnHours", 1000, 0, 1000000));
    config.lun = static_cast<int>(fields.Number("lun", 0, 0, 255));
    ParseFaults(fields, config);
    return config;
}

}  // namespace harrow::machine::drives
