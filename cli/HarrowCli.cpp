#include "cli/HarrowCli.h"

#include "cli/Console.h"
#include "cli/DeviceReport.h"
#include "cli/HealthCommand.h"
#include "cli/RmaForm.h"
#include "core/system/CComputerSystem.h"
#include "frontend/CommandRoutine.h"
#include "frontend/DeviceQueries.h"
#include "frontend/HostTests.h"
#include "frontend/InitSystem.h"
#include "frontend/LineLog.h"
#include "frontend/SelfTest.h"
#include "platform/Library.h"
#include "platform/System.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

constexpr LogFlags STAMPED{true, true, true};
constexpr LogFlags PLAIN{false, true, true};
constexpr const char* LICENCE_FILE = "License Agreement.txt";
constexpr const char* VERSION_VALUE = "\\StringFileInfo\\040904B0\\FileVersion";

bool NeedsDevice(CliCommand command)
{
    return command == CMD_INQUIRY || (command >= CMD_SHORT_DST && command <= CMD_GENERIC_LONG);
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
        !VerQueryValueA(info.data(), VERSION_VALUE, &value, &length) || value == nullptr) {
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
    LogLine("DST not supported...Using Legacy test instead.", nullptr, STAMPED);
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
    if (arguments.size() <= 1) {
        PrintUsage();
        return EndStep(1);
    }
    if (!m_resources.Load()) {
        std::printf("Unable to load resource dll. Program aborting\n");
        return 1;
    }
    GetLogSettings().logFileName = m_resources.String(RES_LOG_FILE_NAME);

    LogLine("Harrow Viraradiza NT Command Line diagnostic", nullptr, STAMPED);
    m_commandLineText = "  ";
    for (const std::string& argument : arguments) {
        m_commandLineText += argument + " ";
    }
    LogLine(m_commandLineText, nullptr, PLAIN);

    m_line = ParseArguments(std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    if (m_line.command != CMD_USAGE && m_line.command != CMD_VERSION) {
        PrintPaged("\nInitializing system please wait.....");
        if (CComputerSystem::Instance() == nullptr) {
            MessageBoxA(nullptr, "Device tree is not initialized", "Harrow", MB_OK | MB_ICONERROR);
            return EndStep(0);
        }
        if (!StartSystem()) {
            PrintPaged("Initialization Failed");
            LogLine("System Initialization FAIL\n", nullptr, STAMPED);
            return EndStep(1);
        }
        PrintPaged("\nInitialization complete\n\n");
    }
    return EndStep(Dispatch());
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
    if (NeedsDevice(m_line.command) && !m_line.deviceGiven) {
        return 0;
    }
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
        return SelfTestOrLegacy(m_line.device, m_line.command == CMD_LONG_DST);
    case CMD_STOP_DST:
        return StopSelfTest(m_line.device);
    case CMD_GENERIC_SHORT:
        return GenericShortTest(MarkMaker(m_line.device));
    case CMD_GENERIC_LONG:
        return GenericLongTest(MarkMaker(m_line.device));
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
    if (ReadWholeFile(LICENCE_FILE, licence)) {
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
    return exitCode;
}
