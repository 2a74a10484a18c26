#include "machine/drives/HealthLogPages.h"

#include "machine/drives/Bytes.h"
#include "machine/drives/LogPageBuilder.h"

#include <algorithm>
#include <string>

namespace harrow::machine::drives {
namespace {

constexpr std::uint8_t kList = 0x03;   // binary list parameter (SPC-4 table 344)
constexpr std::uint8_t kAscii = 0x01;  // ASCII list parameter
constexpr std::uint64_t kSpecifiedCycles = 50000;
constexpr std::uint64_t kSpecifiedLoads = 600000;
constexpr std::uint32_t kHoursPerScan = 168;  // one background medium scan a week
constexpr std::size_t kMaxScanEntries = 0x800;
constexpr int kReassignPending = 0x1;
constexpr int kReassignedByHost = 0x5;
constexpr std::uint64_t kExpanderAddress = 0x500605B000A1B2C0ULL;
constexpr std::uint8_t kLinkRate6G = 0xA;
constexpr std::uint8_t kEndDevice = 0x1;

std::vector<std::uint8_t> ScanEntry(std::uint32_t minutes, int reassign, std::uint64_t lba)
{
    std::vector<std::uint8_t> value(20, 0);
    PutBE(value, 0, 4, minutes);
    value[4] = static_cast<std::uint8_t>((reassign << 4) | 0x3);  // MEDIUM ERROR
    value[5] = 0x11;                                              // unrecovered read error
    PutBE(value, 12, 8, lba);
    return value;
}

}  // namespace

RisenErrors ErrorsAt(const UnitConfig& config, std::uint32_t powerOnMinutes)
{
    const std::uint64_t hours = powerOnMinutes / 60;
    return {config.faults.correctedPer1000Hours * hours / 1000, config.faults.uncorrectedPer1000Hours * hours / 1000};
}

bool HasSasPort(const UnitConfig& config) { return !config.IsKestrel(); }

std::vector<std::uint8_t> NonMediumErrorPage(std::uint16_t pointer)
{
    LogPageBuilder page(0x06, pointer);
    page.AddNumber(0x0000, 4, 0);
    return page.Finish();
}

std::vector<std::uint8_t> StartStopPage(const UnitConfig& config, std::uint32_t powerOnMinutes, std::uint16_t pointer)
{
    LogPageBuilder page(0x0E, pointer);
    // Made as long ago as the power-on hours reach back, counted from 2026.
    constexpr std::uint32_t hoursPerYear = 8766;
    const std::uint32_t year = 2026 - config.powerOnHours / hoursPerYear;
    const std::uint32_t week = std::max<std::uint32_t>(1, 52 - (config.powerOnHours % hoursPerYear) / 168);
    const std::string made = std::to_string(year) + (week < 10 ? "0" : "") + std::to_string(week);
    page.Add(0x0001, kAscii, std::vector<std::uint8_t>(made.begin(), made.end()));
    page.Add(0x0002, kAscii, std::vector<std::uint8_t>(6, ' '));  // no accounting date set
    const std::uint64_t hours = powerOnMinutes / 60;
    page.AddNumber(0x0003, 4, kSpecifiedCycles);
    page.AddNumber(0x0004, 4, hours / 24);  // spun down once a day
    page.AddNumber(0x0005, 4, kSpecifiedLoads);
    page.AddNumber(0x0006, 4, hours * 3);
    return page.Finish();
}

std::vector<std::uint8_t> BackgroundScanPage(const UnitConfig& config, const UnitState& state,
                                             std::uint32_t powerOnMinutes, std::uint16_t pointer)
{
    LogPageBuilder page(0x15, pointer);
    std::vector<std::uint8_t> status(12, 0);
    const auto scans = std::min<std::uint64_t>(powerOnMinutes / 60 / kHoursPerScan, 0xFFFF);
    PutBE(status, 0, 4, powerOnMinutes);
    status[5] = 0x08;  // waiting for the scan interval timer
    PutBE(status, 6, 2, scans);
    PutBE(status, 10, 2, scans);
    page.Add(0x0000, kList, status);
    std::uint16_t parameter = 1;
    for (const std::uint64_t lba : config.faults.mediumErrors) {
        if (parameter > kMaxScanEntries) {
            break;
        }
        const bool reassigned = std::find(state.reassigned.begin(), state.reassigned.end(), lba) != state.reassigned.end();
        page.Add(parameter++, kList,
                 ScanEntry(powerOnMinutes, reassigned ? kReassignedByHost : kReassignPending, lba));
    }
    return page.Finish();
}

std::vector<std::uint8_t> ProtocolPortPage(const UnitConfig& config, std::uint16_t pointer)
{
    LogPageBuilder page(0x18, pointer);
    std::vector<std::uint8_t> port(4 + 48, 0);
    port[0] = 0x06;  // SAS
    port[2] = 1;     // generation code
    port[3] = 1;     // one phy
    std::uint8_t* phy = port.data() + 4;
    phy[1] = 0;      // phy identifier
    phy[3] = 44;     // descriptor length after byte 3
    phy[4] = static_cast<std::uint8_t>(kEndDevice << 4);
    phy[5] = kLinkRate6G;
    phy[7] = 0x08;   // SSP target port
    std::span<std::uint8_t> descriptor(phy, 48);
    PutBE(descriptor, 8, 8, config.wwn);
    PutBE(descriptor, 16, 8, kExpanderAddress);
    page.Add(0x0001, kList, port);
    return page.Finish();
}

std::vector<std::uint8_t> InformationalExceptionsPage(const UnitConfig& config, std::uint16_t pointer)
{
    LogPageBuilder page(0x2F, pointer);
    const bool failing = config.faults.predictedFailure;
    const std::vector<std::uint8_t> status{failing ? kPredictionAsc : std::uint8_t{0},
                                           failing ? kPredictionAscq : std::uint8_t{0},
                                           static_cast<std::uint8_t>(config.temperature),
                                           static_cast<std::uint8_t>(config.referenceTemperature)};
    page.Add(0x0000, kList, status);
    return page.Finish();
}

SelfTestEntry LoggedFailure(const UnitConfig& config)
{
    const LoggedSelfTestFailure& fault = config.faults.loggedSelfTestFailure;
    SelfTestEntry entry;
    entry.code = 2;  // background extended
    entry.result = fault.segment == 1 ? 5 : fault.segment == 2 ? 6 : 7;
    entry.segment = static_cast<std::uint8_t>(fault.segment);
    entry.hours = static_cast<std::uint16_t>(std::min<std::uint32_t>(config.powerOnHours, 0xFFFF));
    entry.failedLba = fault.lba;
    entry.key = 0x3;
    entry.asc = 0x11;
    return entry;
}

}  // namespace harrow::machine::drives
