// A simulated machine of 4 ports with 16 targets of 8 LUNs each (512 disks):
// the time of HarrowCLI -l on a first start (no state folders, a registry
// holding only the command pause at 0; target under 1 s, every disk listed), then of CComputerSystem::Init
// once the folders exist (target under 100 ms) and on the built-in machine
// (under 10 ms). HarrowCLI is looked for beside this program.
#include "core/system/CComputerSystem.h"
#include "core/types/CEventBase.h"
#include "platform/DeviceNamespace.h"
#include "platform/Registry.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr int kPorts = 4;
constexpr int kTargets = 16;
constexpr int kLuns = 8;

// No initiator ID, so all 16 targets hold units; each disk is a class device.
std::string LargeMachine()
{
    std::string json = R"({"name": "bench512", "ports": [)";
    for (int port = 0; port < kPorts; ++port) {
        json += port > 0 ? "," : "";
        json += R"({"driver": "aic78xx", "initiatorId": 255, "units": [)";
        for (int target = 0; target < kTargets; ++target) {
            for (int lun = 0; lun < kLuns; ++lun) {
                json += (target > 0 || lun > 0) ? "," : "";
                json += "{\"target\": " + std::to_string(target) + ", \"lun\": " + std::to_string(lun) +
                        ", \"serial\": \"B" + std::to_string(port * 1000 + target * 10 + lun) + "\"}";
            }
        }
        json += "]}";
    }
    return json + "]}";
}

struct Result {
    double Seconds = 0;
    long Devices = 0;
};

long CountDevices(CComputerSystem& system)
{
    long devices = 0;
    for (int ha = 0; ha < system.NumHostAdapters(); ++ha) {
        for (int target = 0; target < 128; ++target) {
            for (int lun = 0; lun < kLuns; ++lun) {
                devices += system.GetSCSIDevice(ha, target, lun) != nullptr ? 1 : 0;
            }
        }
    }
    return devices;
}

const char* Verdict(bool met) { return met ? "MET" : "MISSED"; }

// Seconds of HarrowCLI -l and the disks it listed.
Result TimeListing(const std::filesystem::path& cli, const std::filesystem::path& dir)
{
    const auto output = dir / "listing.txt";
    Result result;
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        if (::chdir(dir.c_str()) != 0 || std::freopen(output.c_str(), "w", stdout) == nullptr) _exit(126);
        execl(cli.c_str(), cli.c_str(), "-l", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "HarrowCLI -l failed (status %d)\n", status);
        return result;
    }
    result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::ifstream listing(output);
    for (std::string line; std::getline(listing, line);) {
        result.Devices += line.find(" Disc ") != std::string::npos ? 1 : 0;
    }
    return result;
}

// The machine is opened once beforehand, as a running program has it.
Result TimeInit(const char* machine)
{
    setenv("HARROW_MACHINE", machine, 1);
    harrow::platform::SetActiveMachine(nullptr);
    harrow::platform::ReloadRegistry();
    harrow::platform::ActiveMachine();
    Result result;
    const auto start = std::chrono::steady_clock::now();
    try {
        CComputerSystem::Instance()->Init(DRV_NTPORT, BUFMGR_HEAP);
    } catch (CEventBase* event) {
        std::fprintf(stderr, "Init failed: %s\n", event != nullptr ? event->toString().c_str() : "(no event)");
        delete event;
    }
    result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.Devices = CountDevices(*CComputerSystem::Instance());
    CComputerSystem::Destroy();
    return result;
}

}  // namespace

int main()
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "harrow-system-bench";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    setenv("HARROW_REGISTRY", (dir / "registry.reg").c_str(), 1);
    // Only the command pause, at 0 as in every bench: 512 pauses of 250 ms would hide the rest.
    std::ofstream(dir / "registry.reg") << "REGEDIT4\n\n"
                                           "[HKEY_CURRENT_USER\\Software\\Kestrel\\Harrow Viraradiza\\Options]\n"
                                           "\"CommandPauseMs\"=dword:00000000\n\n";
    setenv("HARROW_STATE", (dir / "state").c_str(), 1);
    setenv("HARROW_WINDIR", (dir / "windows").c_str(), 1);
    for (const char* variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"}) {
        setenv(variable, (dir / "xdg").c_str(), 1);
    }
    const std::string machineFile = (dir / "bench512.json").string();
    std::ofstream(machineFile) << LargeMachine();
    setenv("HARROW_MACHINE", machineFile.c_str(), 1);
    const Result listing = TimeListing(std::filesystem::canonical("/proc/self/exe").parent_path() / "HarrowCLI", dir);

    // First runs create the units' state folders; the timed runs find them.
    TimeInit(machineFile.c_str());
    TimeInit("builtin");
    const Result large = TimeInit(machineFile.c_str());
    const Result builtin = TimeInit("builtin");
    const bool listed = listing.Devices == kPorts * kTargets * kLuns && listing.Seconds < 1.0;
    std::printf("HarrowCLI -l, first start: %ld disks listed in %.2f s (target: all %d in < 1 s) %s\n",
                listing.Devices, listing.Seconds, kPorts * kTargets * kLuns, Verdict(listed));
    std::printf("Init, 4 ports x 16 targets x 8 LUNs: %ld devices in %.1f ms (target < 100 ms) %s\n", large.Devices,
                large.Seconds * 1000.0, Verdict(large.Seconds < 0.1));
    std::printf("Init, built-in machine: %ld devices in %.1f ms (target < 10 ms) %s\n", builtin.Devices,
                builtin.Seconds * 1000.0, Verdict(builtin.Seconds < 0.01));
    harrow::platform::SetActiveMachine(nullptr);
    std::filesystem::remove_all(dir);
    return 0;
}
