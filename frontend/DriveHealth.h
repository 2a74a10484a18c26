#pragma once

#include "frontend/DeviceRecord.h"
#include "frontend/LogPageDecoders.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The health of one SCSI disk from its log pages, read the same way by both
// programs.

// Exit-status bits of the health commands, as smartctl's users know them.
namespace health_bit {
constexpr unsigned kRefused = 1U << 0;          // the command line was refused
constexpr unsigned kUnreachable = 1U << 1;      // the device could not be reached
constexpr unsigned kCommandFailed = 1U << 2;   // a command failed
constexpr unsigned kPredictedFailure = 1U << 3;
constexpr unsigned kHot = 1U << 4;              // temperature at or above the reference
constexpr unsigned kUncorrected = 1U << 5;      // uncorrected errors logged
constexpr unsigned kGrownDefects = 1U << 6;
constexpr unsigned kSelfTestFailed = 1U << 7;
}  // namespace health_bit

// Sense key, ASC and ASCQ of a command that did not complete.
struct SenseCodes {
    std::uint8_t key = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
};

// How one log page, or the defect list, was read.
struct PageOutcome {
    // NOT_LISTED: not asked for; UNSUPPORTED: refused as an illegal request.
    enum State { NOT_LISTED, UNSUPPORTED, FAILED, READ } state = NOT_LISTED;
    SenseCodes sense;     // for UNSUPPORTED and FAILED
    bool cut = false;     // a parameter ran past the page
};

struct HealthReport {
    std::string address;
    bool reached = false;
    int peripheralType = -1;
    std::string vendor;
    std::string product;
    std::string revision;
    std::string serial;
    PageOutcome identityOutcome;

    // Page 00h: read, unsupported (the drive offers no logs) or failed.
    PageOutcome supportedOutcome;
    std::vector<int> supported;
    std::map<int, PageOutcome> pages;  // by page code, for each page the report reads

    std::optional<InformationalExceptions> exceptions;
    // ASC/ASCQ 5Dh/xx a command or REQUEST SENSE reported (the IE mode page's MRIE).
    std::optional<SenseCodes> reportedException;
    std::optional<Temperatures> temperatures;
    std::optional<ErrorCounters> writeErrors;
    std::optional<ErrorCounters> readErrors;
    std::optional<ErrorCounters> verifyErrors;
    std::optional<std::uint64_t> nonMediumErrors;
    std::optional<StartStopCounters> startStop;
    std::optional<std::vector<SelfTestRecord>> selfTests;
    std::optional<BackgroundScan> backgroundScan;
    std::optional<std::vector<ProtocolPort>> ports;

    PageOutcome defectOutcome;
    std::optional<std::uint64_t> grownDefects;
};

// The pages the report reads, in the order it shows them.
const std::vector<int>& HealthPages();

// Reads everything the drive offers. Never throws; what failed is in the report.
HealthReport ReadDriveHealth(const DeviceRecord& record);

// The exit-status bits the report calls for.
unsigned HealthBits(const HealthReport& report);

// An informational exception other than a warning (ASC 0Bh): ASC 5Dh is the
// failure prediction threshold of SPC-4; 00h/00h says none.
bool PredictsFailure(const HealthReport& report);
// The IE page or a command says the temperature passed its limit (0Bh/01h).
bool ReportsTemperatureWarning(const HealthReport& report);
