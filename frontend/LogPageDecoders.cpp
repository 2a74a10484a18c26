#include "frontend/LogPageDecoders.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::uint8_t kNoReading = 0xFF;
constexpr std::uint16_t kLastSelfTest = 0x0014;
constexpr std::size_t kSelfTestValueBytes = 16;
constexpr std::uint16_t kScanStatus = 0x0000;
constexpr std::uint16_t kFirstScanEntry = 0x0001;
constexpr std::uint16_t kLastScanEntry = 0x0800;
constexpr int kProtocolSas = 6;
constexpr std::size_t kPortHeader = 4;    // protocol, reserved, generation, phy count
constexpr std::size_t kPhyHeader = 4;     // up to the descriptor length byte
constexpr std::size_t kPhyCounters = 48;  // bytes up to and with the phy reset problem count

std::optional<std::uint64_t> ValueOf(const LogPageView& page, std::uint16_t code)
{
    const LogParameter* parameter = page.Find(code);
    return parameter != nullptr ? BigEndianValue(parameter->value) : std::nullopt;
}

std::uint64_t Field(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t width)
{
    return FieldAt(bytes, at, width).value_or(0);
}

// "YYYYWW" in ASCII digits, as the start-stop page keeps its dates.
std::optional<std::string> WeekDate(const LogPageView& page, std::uint16_t code)
{
    const LogParameter* parameter = page.Find(code);
    if (parameter == nullptr || parameter->value.size() != 6) {
        return std::nullopt;
    }
    std::string digits(parameter->value.begin(), parameter->value.end());
    for (const char c : digits) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
            return std::nullopt;
        }
    }
    return digits.substr(0, 4) + " week " + digits.substr(4, 2);
}

std::optional<int> Degrees(const LogParameter* parameter)
{
    if (parameter == nullptr || parameter->value.size() < 2 || parameter->value[1] == kNoReading) {
        return std::nullopt;
    }
    return parameter->value[1];
}

SasPhy DecodePhy(std::span<const std::uint8_t> phy)
{
    SasPhy decoded;
    decoded.identifier = phy[1];
    decoded.attachedDeviceType = (phy[4] >> 4) & 0x07;
    decoded.linkRate = phy[5] & 0x0F;
    decoded.sasAddress = Field(phy, 8, 8);
    decoded.attachedSasAddress = Field(phy, 16, 8);
    decoded.invalidDwords = static_cast<std::uint32_t>(Field(phy, 32, 4));
    decoded.disparityErrors = static_cast<std::uint32_t>(Field(phy, 36, 4));
    decoded.lossOfSync = static_cast<std::uint32_t>(Field(phy, 40, 4));
    decoded.resetProblems = static_cast<std::uint32_t>(Field(phy, 44, 4));
    return decoded;
}

// The phy descriptors of one SAS port; a descriptor that runs past the value ends the list.
std::vector<SasPhy> DecodePhys(std::span<const std::uint8_t> value)
{
    std::vector<SasPhy> phys;
    const std::size_t count = value.size() > 3 ? value[3] : 0;
    std::size_t at = kPortHeader;
    for (std::size_t i = 0; i < count && at + kPhyHeader <= value.size(); ++i) {
        const std::size_t length = kPhyHeader + value[at + 3];
        if (length < kPhyCounters || length > value.size() - at) {
            break;
        }
        phys.push_back(DecodePhy(value.subspan(at, length)));
        at += length;
    }
    return phys;
}

}  // namespace

std::vector<int> DecodeSupportedPages(const LogPageView& page)
{
    std::vector<int> codes;
    for (const std::uint8_t byte : page.Body()) {
        codes.push_back(byte & 0x3F);
    }
    return codes;
}

ErrorCounters DecodeErrorCounters(const LogPageView& page)
{
    ErrorCounters counters;
    counters.correctedFast = ValueOf(page, 0x0000);
    counters.correctedDelayed = ValueOf(page, 0x0001);
    counters.repeated = ValueOf(page, 0x0002);
    counters.corrected = ValueOf(page, 0x0003);
    counters.algorithmRuns = ValueOf(page, 0x0004);
    counters.bytesProcessed = ValueOf(page, 0x0005);
    counters.uncorrected = ValueOf(page, 0x0006);
    return counters;
}

std::optional<std::uint64_t> DecodeNonMediumErrors(const LogPageView& page) { return ValueOf(page, 0x0000); }

Temperatures DecodeTemperatures(const LogPageView& page)
{
    return Temperatures{Degrees(page.Find(0x0000)), Degrees(page.Find(0x0001))};
}

StartStopCounters DecodeStartStop(const LogPageView& page)
{
    StartStopCounters counters;
    counters.manufactured = WeekDate(page, 0x0001);
    counters.accountingDate = WeekDate(page, 0x0002);
    counters.specifiedCycles = ValueOf(page, 0x0003);
    counters.cycles = ValueOf(page, 0x0004);
    counters.specifiedLoads = ValueOf(page, 0x0005);
    counters.loads = ValueOf(page, 0x0006);
    return counters;
}

std::vector<SelfTestRecord> DecodeSelfTests(const LogPageView& page)
{
    std::vector<SelfTestRecord> records;
    for (const LogParameter& parameter : page.Parameters()) {
        const auto value = parameter.value;
        if (parameter.code == 0 || parameter.code > kLastSelfTest || value.size() < kSelfTestValueBytes) {
            continue;
        }
        if (std::all_of(value.begin(), value.end(), [](std::uint8_t byte) { return byte == 0; })) {
            continue;
        }
        SelfTestRecord record;
        record.number = parameter.code;
        record.code = value[0] >> 5;
        record.result = value[0] & 0x0F;
        record.segment = value[1];
        record.hours = static_cast<std::uint16_t>(Field(value, 2, 2));
        const std::uint64_t lba = Field(value, 4, 8);
        if (lba != ~0ULL) {
            record.failedLba = lba;
        }
        record.key = value[12] & 0x0F;
        record.asc = value[13];
        record.ascq = value[14];
        records.push_back(record);
    }
    return records;
}

bool IsSelfTestFailure(int result) { return result >= 3 && result <= 7; }

const char* SelfTestCodeName(int code)
{
    switch (code) {
    case 0: return "default";
    case 1: return "background short";
    case 2: return "background extended";
    case 5: return "foreground short";
    case 6: return "foreground extended";
    default: return "reserved";
    }
}

const char* SelfTestResultName(int result)
{
    switch (result) {
    case 0x0: return "completed without error";
    case 0x1: return "aborted by the host";
    case 0x2: return "aborted by a reset or another command";
    case 0x3: return "could not complete: unknown error";
    case 0x4: return "failed in an unknown segment";
    case 0x5: return "failed in the first segment";
    case 0x6: return "failed in the second segment";
    case 0x7: return "failed in a later segment";
    case 0xF: return "in progress";
    default: return "reserved result";
    }
}

BackgroundScan DecodeBackgroundScan(const LogPageView& page)
{
    BackgroundScan scan;
    for (const LogParameter& parameter : page.Parameters()) {
        const auto value = parameter.value;
        if (parameter.code == kScanStatus && value.size() >= 12) {
            BackgroundScanStatus status;
            status.powerOnMinutes = static_cast<std::uint32_t>(Field(value, 0, 4));
            status.status = value[5];
            status.scansPerformed = static_cast<std::uint16_t>(Field(value, 6, 2));
            status.progress = static_cast<std::uint16_t>(Field(value, 8, 2));
            status.mediumScansPerformed = static_cast<std::uint16_t>(Field(value, 10, 2));
            scan.status = status;
        } else if (parameter.code >= kFirstScanEntry && parameter.code <= kLastScanEntry && value.size() >= 20) {
            MediumScanRecord record;
            record.number = parameter.code;
            record.powerOnMinutes = static_cast<std::uint32_t>(Field(value, 0, 4));
            record.reassignStatus = value[4] >> 4;
            record.key = value[4] & 0x0F;
            record.asc = value[5];
            record.ascq = value[6];
            record.lba = Field(value, 12, 8);
            scan.entries.push_back(record);
        }
    }
    return scan;
}

const char* BackgroundScanStatusName(int status)
{
    switch (status) {
    case 0: return "no scan active";
    case 1: return "background medium scan active";
    case 2: return "background pre-scan active";
    case 3: return "halted by a fatal error";
    case 4: return "halted by a pattern of errors";
    case 5: return "halted: medium formatted without a primary defect list";
    case 6: return "halted for a vendor-specific cause";
    case 7: return "halted: temperature out of range";
    case 8: return "waiting for the scan interval";
    default: return "reserved status";
    }
}

std::vector<ProtocolPort> DecodeProtocolPorts(const LogPageView& page)
{
    std::vector<ProtocolPort> ports;
    for (const LogParameter& parameter : page.Parameters()) {
        if (parameter.value.size() < kPortHeader) {
            continue;
        }
        ProtocolPort port;
        port.relativePort = parameter.code;
        port.protocol = parameter.value[0] & 0x0F;
        if (port.protocol == kProtocolSas) {
            port.phys = DecodePhys(parameter.value);
        }
        ports.push_back(port);
    }
    return ports;
}

const char* LinkRateName(int code)
{
    switch (code) {
    case 0x8: return "1.5 Gbit/s";
    case 0x9: return "3 Gbit/s";
    case 0xA: return "6 Gbit/s";
    case 0xB: return "12 Gbit/s";
    case 0xC: return "22.5 Gbit/s";
    case 0x1: return "phy disabled";
    case 0x2: return "speed negotiation failed";
    case 0x3: return "SATA spin-up hold";
    default: return "not negotiated";
    }
}

InformationalExceptions DecodeInformationalExceptions(const LogPageView& page)
{
    InformationalExceptions exceptions;
    const LogParameter* parameter = page.Find(0x0000);
    if (parameter == nullptr || parameter->value.size() < 2) {
        return exceptions;
    }
    exceptions.asc = parameter->value[0];
    exceptions.ascq = parameter->value[1];
    if (parameter->value.size() >= 3 && parameter->value[2] != kNoReading) {
        exceptions.temperature = parameter->value[2];
    }
    return exceptions;
}

std::optional<std::uint64_t> GrownDefectCount(std::span<const std::uint8_t> reply, bool twelve)
{
    const std::size_t header = twelve ? 8 : 4;
    if (reply.size() < header) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> length = twelve ? FieldAt(reply, 4, 4) : FieldAt(reply, 2, 2);
    std::uint64_t descriptor = 0;
    switch (reply[1] & 0x07) {
    case 0: descriptor = 4; break;  // short block
    case 3:                          // long block
    case 4:                          // bytes from index
    case 5: descriptor = 8; break;  // physical sector
    default: return std::nullopt;   // vendor-specific or reserved: no size known
    }
    return *length / descriptor;
}
