// The cost of finding the machine's disks as it grows. HarrowCLI -l on
// simulated machines of 64 and 4,096 disks (ports of 16 targets x 8 LUNs):
// every disk listed, and the processor time a disk costs at 4,096 within 1.2x
// of that at 64 (the state folders exist; the first start is measured apart,
// on 512 disks); then CComputerSystem::Init on 512 disks and on the built-in
// machine. Figures are processor time, of the child or of this thread.
// HarrowCLI is looked for beside this program.
#include "bench/BenchVerdict.h"
#include "core/system/CComputerSystem.h"
#include "core/types/CEventBase.h"
#include "platform/DeviceNamespace.h"
#include "platform/Registry.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using harrow::bench::Bound;

constexpr int kTargets = 16;
constexpr int kLuns = 8;
constexpr int kSmall = 64;
constexpr int kMedium = 512;
constexpr int kLarge = 4096;
constexpr int kRuns = 3;

// No initiator ID, so all 16 targets hold units; each disk is a class device.
std::string Machine(int disks)
{
    std::string json = "{\"name\": \"bench" + std::to_string(disks) + "\", \"ports\": [";
    for (int disk = 0; disk < disks; ++disk) {
        const int port = disk / (kTargets * kLuns);
        const int target = disk / kLuns % kTargets;
        const int lun = disk % kLuns;
        if (target == 0 && lun == 0) {
            json += port > 0 ? "]}," : "";
            json += R"({"driver": "aic78xx", "initiatorId": 255, "units": [)";
        } else {
            json += ",";
        }
        json += "{\"target\": " + std::to_string(target) + ", \"lun\": " + std::to_string(lun) +
                ", \"serial\": \"B" + std::to_string(disk) + "\"}";
    }
    return json + "]}]}";
}

struct Listing {
    double CpuSeconds = 0;
    long Disks = 0;
};

// Processor time of one HarrowCLI -l and the disks it listed.
Listing List(const fs::path& cli, const fs::path& dir, const std::string& machine)
{
    const auto output = dir / "listing.txt";
    const pid_t child = fork();
    if (child == 0) {
        if (::chdir(dir.c_str()) != 0 || std::freopen(output.c_str(), "w", stdout) == nullptr) _exit(126);
        setenv("HARROW_MACHINE", machine.c_str(), 1);
        execl(cli.c_str(), cli.c_str(), "-l", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "HarrowCLI -l on %s failed (status %d)\n", machine.c_str(), status);
        return {};
    }
    Listing listing{harrow::bench::CpuSeconds(usage), 0};
    std::ifstream text(output);
    for (std::string line; std::getline(text, line);) {
        listing.Disks += line.find(" Disc ") != std::string::npos ? 1 : 0;
    }
    return listing;
}

// The first start makes the state folders; the best of the later ones is the listing's cost.
Listing SteadyListing(const fs::path& cli, const fs::path& dir, int disks)
{
    const std::string machine = (dir / ("bench" + std::to_string(disks) + ".json")).string();
    std::ofstream(machine) << Machine(disks);
    Listing best = List(cli, dir, machine);
    for (int run = 0; run < kRuns; ++run) {
        const Listing listing = List(cli, dir, machine);
        best.Disks = std::min(best.Disks, listing.Disks);
        best.CpuSeconds = run == 0 ? listing.CpuSeconds : std::min(best.CpuSeconds, listing.CpuSeconds);
    }
    return best;
}

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

struct Init {
    double CpuSeconds = 0;
    long Devices = 0;
};

// The machine is opened once beforehand, as a running program has it.
Init TimeInit(const std::string& machine)
{
    setenv("HARROW_MACHINE", machine.c_str(), 1);
    harrow::platform::SetActiveMachine(nullptr);
    harrow::platform::ReloadRegistry();
    harrow::platform::ActiveMachine();
    Init result;
    const double start = harrow::bench::ThreadCpuSeconds();
    try {
        CComputerSystem::Instance()->Init(DRV_NTPORT, BUFMGR_HEAP);
    } catch (CEventBase* event) {
        std::fprintf(stderr, "Init failed: %s\n", event != nullptr ? event->toString().c_str() : "(no event)");
        delete event;
    }
    result.CpuSeconds = harrow::bench::ThreadCpuSeconds() - start;
    result.Devices = CountDevices(*CComputerSystem::Instance());
    CComputerSystem::Destroy();
    return result;
}

}  // namespace

int main()
{
    const fs::path dir = fs::temp_directory_path() / "harrow-system-bench";
    fs::remove_all(dir);
    fs::create_directories(dir);
    setenv("HARROW_REGISTRY", (dir / "registry.reg").c_str(), 1);
    // Only the command pause, at 0 as in every bench: a pause a disk would hide the rest.
    std::ofstream(dir / "registry.reg") << "REGEDIT4\n\n"
                                           "[HKEY_CURRENT_USER\\Software\\Kestrel\\Harrow Viraradiza\\Options]\n"
                                           "\"CommandPauseMs\"=dword:00000000\n\n";
    setenv("HARROW_STATE", (dir / "state").c_str(), 1);
    setenv("HARROW_WINDIR", (dir / "windows").c_str(), 1);
    for (const char* variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"}) {
        setenv(variable, (dir / "xdg").c_str(), 1);
    }
    const fs::path cli = fs::canonical("/proc/self/exe").parent_path() / "HarrowCLI";
    harrow::bench::Verdicts verdicts;

    const std::string mediumFile = (dir / "bench512.json").string();
    std::ofstream(mediumFile) << Machine(kMedium);
    const Listing first = List(cli, dir, mediumFile);
    std::printf("HarrowCLI -l, first start, %d disks: %ld listed, %.3f s of CPU\n", kMedium, first.Disks,
                first.CpuSeconds);
    verdicts.Check("HarrowCLI -l, first start of 512 disks, disks not listed", kMedium - first.Disks, Bound::AtMost, 0);
    verdicts.Check("HarrowCLI -l, first start of 512 disks, CPU", first.CpuSeconds, Bound::AtMost, 1.0, " s");

    const Listing small = SteadyListing(cli, dir, kSmall);
    const Listing large = SteadyListing(cli, dir, kLarge);
    const double smallPerDisk = small.CpuSeconds / kSmall * 1e6;
    const double largePerDisk = large.CpuSeconds / kLarge * 1e6;
    std::printf("HarrowCLI -l, CPU a disk: %.0f us at %d disks (%ld listed), %.0f us at %d disks (%ld listed)\n",
                smallPerDisk, kSmall, small.Disks, largePerDisk, kLarge, large.Disks);
    verdicts.Check("HarrowCLI -l at 4096 disks, disks not listed", kLarge - large.Disks, Bound::AtMost, 0);
    verdicts.Check("HarrowCLI -l, CPU a disk at 4096 / at 64", largePerDisk / smallPerDisk, Bound::AtMost, 1.2);

    // First runs create the units' state folders; the measured runs find them.
    TimeInit(mediumFile);
    TimeInit("builtin");
    const Init medium = TimeInit(mediumFile);
    const Init builtin = TimeInit("builtin");
    std::printf("Init: %ld devices of 512, %ld of the built-in machine\n", medium.Devices, builtin.Devices);
    verdicts.Check("Init, 4 ports x 16 targets x 8 LUNs, CPU", medium.CpuSeconds * 1000.0, Bound::AtMost, 100.0,
                   " ms");
    verdicts.Check("Init, built-in machine, CPU", builtin.CpuSeconds * 1000.0, Bound::AtMost, 10.0, " ms");
    harrow::platform::SetActiveMachine(nullptr);
    fs::remove_all(dir);
    return verdicts.ExitStatus();
}
