#pragma once

#include "frontend/LogPageView.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// What the health report reads from each log page. Every field is empty
// unless the drive's page held it.

namespace log_page {
constexpr int kSupported = 0x00;
constexpr int kWriteErrors = 0x02;
constexpr int kReadErrors = 0x03;
constexpr int kVerifyErrors = 0x05;
constexpr int kNonMediumErrors = 0x06;
constexpr int kTemperature = 0x0D;
constexpr int kStartStop = 0x0E;
constexpr int kSelfTestResults = 0x10;
constexpr int kBackgroundScan = 0x15;
constexpr int kProtocolPort = 0x18;
constexpr int kInformationalExceptions = 0x2F;
}  // namespace log_page

// Page 00h (SPC-4 7.3.18): the page codes, in the drive's order.
std::vector<int> DecodeSupportedPages(const LogPageView& page);

// Pages 02h, 03h and 05h (SPC-4 7.3.4, 7.3.14, 7.3.21), parameters 0000h to 0006h.
struct ErrorCounters {
    std::optional<std::uint64_t> correctedFast;     // without substantial delay
    std::optional<std::uint64_t> correctedDelayed;  // with possible delays
    std::optional<std::uint64_t> repeated;          // total rewrites or rereads
    std::optional<std::uint64_t> corrected;         // total errors corrected
    std::optional<std::uint64_t> algorithmRuns;     // times the correction algorithm ran
    std::optional<std::uint64_t> bytesProcessed;
    std::optional<std::uint64_t> uncorrected;
};
ErrorCounters DecodeErrorCounters(const LogPageView& page);

// Page 06h (SPC-4 7.3.10), parameter 0000h.
std::optional<std::uint64_t> DecodeNonMediumErrors(const LogPageView& page);

// Page 0Dh (SPC-4 7.3.20): degrees Celsius; FFh (no reading) is left empty.
struct Temperatures {
    std::optional<int> current;
    std::optional<int> reference;
};
Temperatures DecodeTemperatures(const LogPageView& page);

// Page 0Eh (SBC-3 6.4.x, start-stop cycle counter).
struct StartStopCounters {
    std::optional<std::string> manufactured;  // "YYYY week WW"
    std::optional<std::string> accountingDate;
    std::optional<std::uint64_t> specifiedCycles;
    std::optional<std::uint64_t> cycles;
    std::optional<std::uint64_t> specifiedLoads;
    std::optional<std::uint64_t> loads;
};
StartStopCounters DecodeStartStop(const LogPageView& page);

// Page 10h (SPC-4 7.3.17): one self-test results parameter.
struct SelfTestRecord {
    int number = 0;  // parameter code, 1 = newest
    int code = 0;    // self-test code, bits 7-5
    int result = 0;  // bits 3-0
    int segment = 0;
    std::uint16_t hours = 0;
    std::optional<std::uint64_t> failedLba;  // empty when all ones
    std::uint8_t key = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
};
// Entries 0001h to 0014h that hold a test; unused ones (all zero) are left out.
std::vector<SelfTestRecord> DecodeSelfTests(const LogPageView& page);
// Results 3 to 7 say a test found a fault (SPC-4 table 298).
bool IsSelfTestFailure(int result);
const char* SelfTestCodeName(int code);
const char* SelfTestResultName(int result);

// Page 15h (SBC-3 6.4.2).
struct BackgroundScanStatus {
    std::uint32_t powerOnMinutes = 0;
    int status = 0;
    std::uint16_t scansPerformed = 0;
    std::uint16_t progress = 0;  // of 65536
    std::uint16_t mediumScansPerformed = 0;
};
struct MediumScanRecord {
    int number = 0;
    std::uint32_t powerOnMinutes = 0;
    int reassignStatus = 0;
    std::uint8_t key = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
    std::uint64_t lba = 0;
};
struct BackgroundScan {
    std::optional<BackgroundScanStatus> status;
    std::vector<MediumScanRecord> entries;
};
BackgroundScan DecodeBackgroundScan(const LogPageView& page);
const char* BackgroundScanStatusName(int status);

// Page 18h for SAS (SPL-2 protocol-specific port log page).
struct SasPhy {
    int identifier = 0;
    int attachedDeviceType = 0;
    int linkRate = 0;  // negotiated logical link rate code
    std::uint64_t sasAddress = 0;
    std::uint64_t attachedSasAddress = 0;
    std::uint32_t invalidDwords = 0;
    std::uint32_t disparityErrors = 0;
    std::uint32_t lossOfSync = 0;
    std::uint32_t resetProblems = 0;
};
struct ProtocolPort {
    int relativePort = 0;
    int protocol = 0;  // SPC-4 protocol identifier; 6 = SAS
    std::vector<SasPhy> phys;
};
std::vector<ProtocolPort> DecodeProtocolPorts(const LogPageView& page);
const char* LinkRateName(int code);

// The grown defect count from a READ DEFECT DATA reply (SBC-3 5.8 and 5.9):
// list length over the descriptor size of the format the drive answered in.
std::optional<std::uint64_t> GrownDefectCount(std::span<const std::uint8_t> reply, bool twelve);

// Page 2Fh (SPC-4 7.3.8), parameter 0000h.
struct InformationalExceptions {
    std::optional<std::uint8_t> asc;
    std::optional<std::uint8_t> ascq;
    std::optional<int> temperature;
};
InformationalExceptions DecodeInformationalExceptions(const LogPageView& page);
