// Time of CComputerSystem::Init on a simulated machine of 4 ports with 16
// targets of 8 LUNs each (512 devices) and on the built-in machine.
#include "core/system/CComputerSystem.h"
#include "core/types/CEventBase.h"
#include "platform/DeviceNamespace.h"
#include "platform/Registry.h"

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

// No initiator ID, so all 16 targets hold units. Units are left unclaimed and
// reached through their port, as the port driver looks for at most 256 class devices.
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
                        ", \"claimed\": false, \"serial\": \"B" + std::to_string(port * 1000 + target * 10 + lun) + "\"}";
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
    setenv("HARROW_STATE", (dir / "state").c_str(), 1);
    const std::string machineFile = (dir / "bench512.json").string();
    std::ofstream(machineFile) << LargeMachine();

    // First runs create the units' state folders; the timed runs find them.
    TimeInit(machineFile.c_str());
    TimeInit("builtin");
    const Result large = TimeInit(machineFile.c_str());
    const Result builtin = TimeInit("builtin");
    std::printf("Init, 4 ports x 16 targets x 8 LUNs: %ld devices in %.1f ms (target < 100 ms)\n", large.Devices,
                large.Seconds * 1000.0);
    std::printf("Init, built-in machine: %ld devices in %.1f ms (target < 10 ms)\n", builtin.Devices,
                builtin.Seconds * 1000.0);
    harrow::platform::SetActiveMachine(nullptr);
    std::filesystem::remove_all(dir);
    return 0;
}
