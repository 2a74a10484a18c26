// The --json document: what one run found, for scripts and monitoring. The
// routines that print the human text hand their findings here as they go.
#pragma once

#include "cli/CommandLine.h"
#include "frontend/DeviceQueries.h"
#include "frontend/DeviceRecord.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// What READ CAPACITY gave, or the sense it failed with.
struct CapacityReading {
    bool read = false;
    std::uint64_t lastLba = 0;
    std::uint32_t blockLength = 0;
};

class JsonReport {
public:
    // The arguments without the program name.
    explicit JsonReport(std::vector<std::string> arguments);

    void SetCommand(CliCommand command);
    void SetError(const std::string& message);

    // -l: an adapter line, then the devices found on it.
    void AddAdapter(const AdapterInfo& info);
    void AddListedDevice(const DeviceRecord& record, int type, const DeviceIdentity& identity, bool kestrel,
                         const CapacityReading& capacity, bool ready);

    // The device a command works on, by the address that reached it.
    void SetDevice(const DeviceRecord& record);
    // -i: the report's findings.
    void SetIdentity(const DeviceIdentity& identity, bool kestrel);
    void SetInquiryText(const char* field, const std::string& text);
    void SetCapacity(int type, const CapacityReading& capacity);
    void SetDst(bool supported, int longSeconds);
    // A mode-page field, current and default; 0xFF = not read.
    void SetModeField(const char* field, std::uint8_t current, std::uint8_t fallback);

    // -t, -tl, -s, -g, -gl: the test's run, its lines and its outcome.
    void BeginTest(const std::string& kind, int percent);
    // A self test that fell back to a host test.
    void SetTestKind(const std::string& kind);
    void NoteLine(const std::string& text);
    void EndTest(const DeviceRecord& record, int result);
    // A self test ran (no fallback): its newest entry of the self-test results log page.
    bool RanSelfTest() const;
    void SetSelfTestEntry(const std::uint8_t* page);

    // A report that joins under its own member ("health", "selfTest", "metrics").
    void SetSection(const std::string& name, nlohmann::json value);

    // The whole document, one line.
    std::string Document(int exitCode) const;

private:
    double Seconds() const;

    nlohmann::json m_doc;
    bool m_testRunning = false;
    std::chrono::steady_clock::time_point m_testStart;
};

// The report of this run when --json was given, else null.
JsonReport* ActiveJson();
void SetActiveJson(JsonReport* report);

// The JSON of a device's address fields and /dev names, shared by every command.
nlohmann::json AddressJson(const DeviceRecord& record);
