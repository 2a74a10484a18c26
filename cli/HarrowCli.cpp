#include "cli/HarrowCli.h"

#include "cli/Console.h"
#include "cli/DeviceReport.h"
#include "cli/HealthCommand.h"
#include "cli/LinuxDeviceNames.h"
#include "cli/RmaForm.h"
#include "core/system/CComputerSystem.h"
#include "frontend/CommandRoutine.h"
#include "frontend/DriveHealth.h"
#include "frontend/DeviceQueries.h"
#include "frontend/HostTests.h"
#include "frontend/InitSystem.h"
#include "frontend/LineLog.h"
#include "frontend/SelfTest.h"
#include "frontend/TextFormat.h"
#include "platform/Library.h"
#include "platform/System.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

constexpr LogFlags kStamped{true, true, true};
constexpr LogFlags kPlain{false, true, true};
constexpr const char* kLicenceFile = "License Agreement.txt";
constexpr const char* kVersionValue = "\\StringFileInfo\\040904B0\\FileVersion";

bool IsTest(CliCommand command) { return command >= CMD_SHORT_DST && command <= CMD_GENERIC_LONG; }

bool NeedsDevice(CliCommand command) { return command == CMD_INQUIRY || IsTest(command); }

bool Given(const std::vector<std::string>& arguments, const char* option)
{
    return std::find(arguments.begin(), arguments.end(), option) != arguments.end();
}

// The percentages the usage offers each test.
struct PercentRange {
    int low;
    int high;
};

PercentRange RangeOf(CliCommand command)
{
    return command == CMD_SHORT_DST || command == CMD_LONG_DST ? PercentRange{10, 100} : PercentRange{1, 100};
}

// The device of the tree a test command would reach; false for an address nothing answers at.
bool InTree(const DeviceRecord& record)
{
    const CComputerSystem* system = CComputerSystem::Instance();
    if (system == nullptr) {
        return false;
    }
    switch (record.kind) {
    case KIND_PLAIN:
        return system->GetSCSIDevice(record.hostAdapter, record.target, record.lun) != nullptr;
    case KIND_RAID:
        // The drive sits behind the controller, whose LUN 0 carries its commands.
        return system->GetSCSIDevice(record.hostAdapter, record.raidTarget, 0) != nullptr;
    default:
        return system->GetChannelDevice(record.hostAdapter, record.channel, record.target, record.lun) != nullptr;
    }
}

const char* TestKind(CliCommand command)
{
    switch (command) {
    case CMD_SHORT_DST: return "short-self-test";
    case CMD_LONG_DST: return "long-self-test";
    case CMD_STOP_DST: return "stop-self-test";
    case CMD_GENERIC_LONG: return "generic-long-test";
    default: return "generic-short-test";
    }
}

std::string OwnVersion()
{
    char path[4096];
    if (GetModuleFileNameA(nullptr, path, sizeof path) == 0) {
        return "Version Unknown";
    }
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) {
        return "Version Unknown";
    }
    std::vector<char> info(size);
    void* value = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoA(path, handle, size, info.data()) ||
        !VerQueryValueA(info.data(), kVersionValue, &value, &length) || value == nullptr) {
        return "Version Unknown";
    }
    return static_cast<const char*>(value);
}

bool ReadWholeFile(const char* name, std::string& text)
{
    std::ifstream file(name, std::ios::binary);
    if (!file) {
        return false;
    }
    std::ostringstream contents;
    contents << file.rdbuf();
    if (file.bad()) {
        return false;
    }
    text = contents.str();
    return true;
}

// The maker's drives get the "Legacy" wording of the host tests.
DeviceRecord& MarkMaker(DeviceRecord& record)
{
    record.isKestrel = IsKestrelDrive(record) ? 1 : 0;
    return record;
}

int SelfTestOrLegacy(DeviceRecord& record, bool extended)
{
    if (MarkMaker(record).isKestrel != 0 && IsDstSupported(record)) {
        return RunSelfTest(record, extended);
    }
    LogLine("DST not supported...Using Legacy test instead.", nullptr, kStamped);
    if (JsonReport* json = ActiveJson()) {
        json->SetTestKind(TestKind(extended ? CMD_GENERIC_LONG : CMD_GENERIC_SHORT));
    }
    return extended ? GenericLongTest(record) : GenericShortTest(record);
}

}  // namespace

void PrintUsage()
{
    std::printf("Usage: Harrow Viraradiza [-option][variable][device]\n");
    std::printf("  [device] device address as 3 numbers - HA:TAR:LUN\n\n");
    std::printf("    -?  Print this usage information\n");
    std::printf("    ");
    std::printf("    ");
    std::printf("    -r  generate Kestrel RMA form\n\n");
    std::printf("    -l  list all attached SCSI disks\n");
    std::printf("    -i  display drive Inquiry information\n");
    std::printf("    -t  ###%%  execute ###%% (10%% - 100%%) short Drive Self Test (DST)\n");
    std::printf("    -tl ###%%  execute ###%% (10%% - 100%%) long Drive Self Test (DST)\n");
    std::printf("    -s  stop Drive Self Test (DST)\n");
    std::printf("    -g  ###%%  execute ###%% (1%% - 100%%) generic short test\n");
    std::printf("    -gl  generic long test (sequential verify test of entire drive)\n\n");
    std::printf("  example: hrcli -i 1:3:0  displays inquiry for 1:3:0\n");
    std::printf("  example: hrcli -t 30%% 1:3:0  run 30%% of short DST for 1:3:0\n");
}

int HarrowCli::Run(const std::vector<std::string>& arguments)
{
    // A terminal is never a console this program opened: no pause at the end.
    GetLogSettings().pageHeight = InteractivePageHeight();
    m_pauseAtEnd = false;
    const std::vector<std::string> given(arguments.begin() + (arguments.empty() ? 0 : 1), arguments.end());
    // The conventions of every Linux program, answered before anything is initialised.
    if (Given(given, "--help")) {
        PrintUsage();
        return EndStep(0);
    }
    if (Given(given, "--version")) {
        std::printf("Harrow Viraradiza Version %s\n", OwnVersion().c_str());
        return EndStep(0);
    }
    if (Given(given, "--json")) {
        StartJson(given);
    }
    if (arguments.size() <= 1) {
        PrintUsage();
        return EndStep(1);
    }
    if (!m_resources.Load()) {
        std::printf("Unable to load resource dll. Program aborting\n");
        if (m_json) {
            m_json->SetError("Unable to load resource dll. Program aborting");
        }
        return EndStep(1);
    }
    GetLogSettings().logFileName = m_resources.String(RES_LOG_FILE_NAME);

    LogLine("Harrow Viraradiza NT Command Line diagnostic", nullptr, kStamped);
    m_commandLineText = "  ";
    for (const std::string& argument : arguments) {
        m_commandLineText += argument + " ";
    }
    LogLine(m_commandLineText, nullptr, kPlain);

    m_line = ParseArguments(given);
    if (m_json) {
        m_json->SetCommand(m_line.command);
    }
    if (const int refused = RefuseArguments(); refused != 0) {
        return EndStep(refused);
    }
    if (m_line.command != CMD_USAGE && m_line.command != CMD_VERSION) {
        PrintPaged("\nInitializing system please wait.....");
        if (CComputerSystem::Instance() == nullptr) {
            MessageBoxA(nullptr, "Device tree is not initialized", "Harrow", MB_OK | MB_ICONERROR);
            return EndStep(0);
        }
        if (!StartSystem()) {
            PrintPaged("Initialization Failed");
            LogLine("System Initialization FAIL\n", nullptr, kStamped);
            if (m_json) {
                m_json->SetError("Initialization Failed");
            }
            return EndStep(1);
        }
        PrintPaged("\nInitialization complete\n\n");
        if (const int refused = RefuseDevice(); refused != 0) {
            return EndStep(refused);
        }
    }
    return EndStep(Dispatch());
}

void HarrowCli::StartJson(const std::vector<std::string>& given)
{
    std::fflush(stdout);
    m_jsonFd = dup(STDOUT_FILENO);
    if (m_jsonFd < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::fprintf(stderr, "HarrowCLI: --json cannot keep standard output for the document\n");
        return;
    }
    // Nobody reads a pager's prompt in a script.
    GetLogSettings().pageHeight = 0;
    m_json = std::make_unique<JsonReport>(given);
    SetActiveJson(m_json.get());
    GetLogSettings().observer = [](const std::string& text) {
        if (JsonReport* json = ActiveJson()) {
            json->NoteLine(text);
        }
    };
}

int HarrowCli::Refuse(int exitCode, const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "HarrowCLI: %s\n", message.c_str());
    if (m_json) {
        m_json->SetError(message);
    }
    return exitCode;
}

int HarrowCli::RefuseArguments()
{
    const CliCommand command = m_line.command;
    const std::string option = "-" + KeywordOf(command);
    if (IsTest(command) && command != CMD_STOP_DST && m_line.percentGiven) {
        const PercentRange range = RangeOf(command);
        if (m_line.percent < range.low || m_line.percent > range.high) {
            return Refuse(kExitRefused, Format("%s takes %d%% - %d%%, not %d%%", option.c_str(), range.low,
                                               range.high, m_line.percent));
        }
    }
    if (!NeedsDevice(command)) {
        return 0;
    }
    if (!m_line.deviceGiven) {
        return Refuse(kExitNoDevice, option + " needs a device: HA:TAR:LUN as -l lists it, or a /dev name on "
                                               "HARROW_MACHINE=linux");
    }
    if (m_line.deviceName.empty() && !m_line.addressParsed) {
        return Refuse(kExitNoDevice, m_line.deviceText + " is not a device address: HA:TAR:LUN, HA:CH:TAR:LUN "
                                                          "or HA:RT:CH:TAR:LUN");
    }
    return 0;
}

int HarrowCli::RefuseDevice()
{
    const CliCommand command = m_line.command;
    // The health commands answer with their bit mask, where 1 is a refused command line.
    const int noDevice = TakesHealthDevice(command) ? static_cast<int>(health_bit::kRefused) : kExitNoDevice;
    if (!m_line.deviceName.empty() && (NeedsDevice(command) || command == CMD_RMA || TakesHealthDevice(command))) {
        const LinuxDeviceNames* names = ActiveDeviceNames();
        if (names == nullptr) {
            return Refuse(noDevice, m_line.deviceName + ": /dev names reach devices only on "
                                                              "HARROW_MACHINE=linux; give HA:TAR:LUN as -l lists it");
        }
        const LinuxUnitNodes* unit = names->Resolve(m_line.deviceName);
        if (unit == nullptr) {
            return Refuse(noDevice, m_line.deviceName + " is no SCSI disk or generic node of this computer");
        }
        m_line.device = LinuxDeviceNames::RecordOf(*unit);
    }
    if (IsTest(command) && !InTree(m_line.device)) {
        return Refuse(noDevice, "no device answers at " + m_line.deviceText + " (-l lists the devices)");
    }
    if (m_json && NeedsDevice(command)) {
        m_json->SetDevice(m_line.device);
    }
    return 0;
}

int HarrowCli::RunTest()
{
    DeviceRecord& record = m_line.device;
    const int percent = m_line.percent == 0 ? 100 : m_line.percent;
    if (m_json) {
        m_json->BeginTest(TestKind(m_line.command), percent);
    }
    int result = 0;
    switch (m_line.command) {
    case CMD_SHORT_DST:
    case CMD_LONG_DST:
        result = SelfTestOrLegacy(record, m_line.command == CMD_LONG_DST);
        break;
    case CMD_STOP_DST:
        result = StopSelfTest(record);
        break;
    case CMD_GENERIC_SHORT:
        result = GenericShortTest(MarkMaker(record));
        break;
    default:
        result = GenericLongTest(MarkMaker(record));
        break;
    }
    if (m_json) {
        m_json->EndTest(record, result);
        bool inProgress = false;
        int resultCode = 0;
        if (m_json->RanSelfTest() && ReadSelfTestStatus(record, kSelfTestPage, inProgress, resultCode) == 0) {
            m_json->SetSelfTestEntry(SharedBuffer());
        }
    }
    return result;
}

bool HarrowCli::StartSystem()
{
    const std::string product = m_resources.String(RES_PRODUCT_NAME);
    CComputerSystem::RegisterProductRunning(product.c_str());
    m_systemReady = InitSystem(product);
    SharedBuffer();
    return m_systemReady;
}

int HarrowCli::Dispatch()
{
    m_line.device.percent = static_cast<float>(m_line.percent);
    switch (m_line.command) {
    case CMD_USAGE:
        PrintUsage();
        return 0;
    case CMD_VERSION:
        PrintVersion();
        return 0;
    case CMD_COPYRIGHT:
        PrintPaged(m_resources.String(RES_COPYRIGHT));
        return 0;
    case CMD_RMA:
        return WriteRmaForm(m_line.device);
    case CMD_LIST:
        return ListDevices();
    case CMD_INQUIRY:
        return InquiryReport(m_line.device);
    case CMD_SHORT_DST:
    case CMD_LONG_DST:
    case CMD_STOP_DST:
    case CMD_GENERIC_SHORT:
    case CMD_GENERIC_LONG:
        return RunTest();
    case CMD_HEALTH:
    case CMD_SELF_TEST:
    case CMD_METRICS:
        return RunHealthCommand(m_line);
    case CMD_NONE:
        PrintNoCommand();
        return 0;
    }
    return 0;
}

void HarrowCli::PrintVersion() const
{
    const std::string version = OwnVersion();
    std::string licence;
    if (ReadWholeFile(kLicenceFile, licence)) {
        PrintPaged("\nHarrow Viraradiza Version " + version + " \n" + licence);
    } else {
        PrintPaged("\nHarrow Viraradiza Version " + version + " \n");
    }
}

void HarrowCli::PrintNoCommand() const
{
    std::printf("%s\n\t%s \n\n", m_resources.String(RES_NO_COMMAND).c_str(), m_commandLineText.c_str());
    PrintUsage();
}

int HarrowCli::EndStep(int exitCode)
{
    if (m_pauseAtEnd) {
        std::printf("------------------------------------------\n");
        std::printf("Program Finished - Hit <Enter> to continue");
        std::getchar();
    }
    if (m_systemReady) {
        CComputerSystem::Destroy();
    }
    std::fflush(stdout);
    if (m_json) {
        const std::string document = m_json->Document(exitCode);
        std::FILE* out = fdopen(m_jsonFd, "w");
        if (out == nullptr || std::fputs(document.c_str(), out) < 0 || std::fclose(out) != 0) {
            std::fprintf(stderr, "HarrowCLI: the JSON document could not be written\n");
        }
        SetActiveJson(nullptr);
    }
    return exitCode;
}
