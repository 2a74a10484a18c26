#pragma once

#include "core/devices/ScsiCdbRecord.h"
#include "core/tests/CBufferPatternSystem.h"
#include "core/types/CDevAddress.h"
#include "core/types/Error.h"
#include "frontend/DeviceRecord.h"
#include "oemtest/OemCommands.h"
#include "oemtest/OemRun.h"

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

class CTestBase;
class SCSIDevice;

// How long a random or seek test runs.
enum class OemLimit {
    Operations,
    Seconds,
    UntilCancelled,
};

// SCSI data direction of a user CDB.
enum class OemDirection {
    None,
    In,
    Out,
};

// What the parameter page sets. Text fields are parsed when the plan is checked.
struct OemParameters {
    bool useRange = false;
    int percentage = 100;
    unsigned long startBlock = 0;
    unsigned long endBlock = 0;
    long blocksPerXfer = 64;
    long threadsPerDevice = 1;
    int cmdBlocks = 1;
    OemLimit limit = OemLimit::Operations;
    long operations = 1000;
    long seconds = 60;
    Pattern_t pattern = PatternAA;
    std::string userPattern;
    bool dataCompare = true;
    std::string cdb;
    OemDirection direction = OemDirection::None;
    long dataLength = 0;
};

// One drive of the test, resolved in the computer system.
struct OemDevice {
    CDevAddress address;
    // Null when the address names no disk the system knows.
    SCSIDevice* device = nullptr;
    // "Disc HA:TAR:LUN VENDOR MODEL SERIAL"
    std::string name;
    // For the log lines: the address and the drive's own file.
    DeviceRecord record;
};

// The chosen command over the devices handed over, with its parameters:
// checks them and builds the engine's test.
class OemTestPlan {
public:
    // The engine's pattern registry slot this plug-in uses.
    static constexpr int kPatternSlot = 1;
    static constexpr long kMaxDataLength = 65536;

    OemTestPlan(const OemCommand& command, const std::vector<CDevAddress>& addresses);

    const OemCommand& Command() const { return m_command; }
    const std::vector<OemDevice>& Devices() const { return m_devices; }
    OemParameters& Parameters() { return m_parameters; }

    // Empty when the plan can run, else what the user has to change.
    std::string Check() const;
    // The question a writing test asks, naming every drive.
    std::string ConfirmationText() const;
    // Registers the pattern and compare switch, builds and parameterises the
    // test. Null with the engine's result when it refuses the parameters.
    std::unique_ptr<CTestBase> MakeTest(Error_t& result);
    // How the run page tells each drive's progress.
    OemProgressBasis ProgressBasis() const;

private:
    std::unique_ptr<CTestBase> NewTest();
    Error_t SetParameters(CTestBase& test);
    Error_t RegisterPattern() const;
    void BuildCdb();
    std::string CheckBlocks() const;
    std::string CheckPattern() const;
    std::string CheckCdb() const;
    unsigned long SmallestHighBlock() const;

    const OemCommand& m_command;
    std::vector<OemDevice> m_devices;
    // The engine keeps pointers to these while a test runs.
    std::list<CDevAddress> m_addresses;
    SCSI_Cdb_UserDef16Byte_s m_cdb{};
    OemParameters m_parameters;
};

// "A5 5a 00" or "a55a00": false on anything else, or an odd digit count.
bool ParseHexBytes(const std::string& text, std::vector<std::uint8_t>& bytes);
