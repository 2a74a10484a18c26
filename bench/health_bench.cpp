// Speed and memory of the drive health commands.
// 1. CPU that a health report adds above the commands it sends: the report of
//    a drive that fills every page, against the same commands sent bare, in
//    one process on one simulated machine (target: at most 2 ms a report).
// 2. --metrics of 512 simulated disks on a first start, against -l of the
//    same machine on a first start (target: at most twice as long; -l probes
//    every LUN and rescans, --metrics reads 15 pages a disk), and its peak
//    memory (target: below 64 MiB).
// Timing figures are processor time (BenchVerdict.h); one verdict line a target.
#include "bench/BenchHome.h"
#include "bench/BenchVerdict.h"
#include "core/system/CComputerSystem.h"
#include "frontend/CommandRoutine.h"
#include "frontend/DriveHealth.h"
#include "frontend/HealthText.h"
#include "frontend/InitSystem.h"
#include "frontend/ScsiCdb.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using harrow::bench::Bound;
using harrow::bench::Verdicts;

constexpr int kRounds = 300;
constexpr double kMaxOverheadMs = 2.0;
constexpr int kPorts = 32;
constexpr int kTargetsPerPort = 16;  // 15 disks a port besides the initiator: 32 x 16 = 512 with LUN 1
constexpr double kMaxMetricsRatio = 2.0;
constexpr double kMaxPeakMiB = 64.0;

json Disk(int target, int lun, bool kestrel)
{
    json disk = {{"target", target}, {"lun", lun}, {"blocks", 8192},
                 {"serial", "B" + std::to_string(target * 10 + lun)}};
    if (!kestrel) {
        disk.update({{"vendor", "MERIDIAN"}, {"product", "MD3600LW"}, {"revision", "M200"}});
    }
    return disk;
}

fs::path MakeHome()
{
    const fs::path home = harrow::bench::MakeBenchHome("harrow-health-bench");
    setenv("HARROW_REGISTRY", (home / "registry.reg").c_str(), 1);
    setenv("HARROW_WINDIR", (home / "windows").c_str(), 1);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"}) {
        setenv(name, (home / "xdg").c_str(), 1);
    }
    return home;
}

// A drive that fills every page the report reads.
void WriteOneDriveMachine(const fs::path& file)
{
    json disk = Disk(0, 0, false);
    disk["faults"] = {{"risingErrors", {{"corrected", 900}, {"uncorrected", 1}}},
                      {"failedSelfTestEntry", {{"segment", 3}, {"lba", 100}}},
                      {"mediumErrors", {10, 20, 30}},
                      {"grownDefects", {40, 50}}};
    const json machine = {{"name", "bench-health"},
                          {"ports", {{{"port", 0}, {"driver", "aic78xx"}, {"deviceName", "AIC-7899"},
                                      {"units", {disk}}}}}};
    std::ofstream(file) << machine.dump(2);
}

void WriteFleetMachine(const fs::path& file)
{
    json ports = json::array();
    int disks = 0;
    for (int port = 0; port < kPorts; ++port) {
        json units = json::array();
        for (int target = 0; target < kTargetsPerPort; ++target) {
            if (target == 7) {
                continue;  // the initiator
            }
            for (int lun = 0; lun < 2 && disks < 512; ++lun, ++disks) {
                units.push_back(Disk(target, lun, (target + lun) % 2 == 0));
            }
        }
        ports.push_back({{"port", port}, {"driver", "aic78xx"}, {"deviceName", "AIC-7899"}, {"units", units}});
    }
    std::ofstream(file) << json{{"name", "bench-fleet"}, {"ports", ports}}.dump(2);
}

// The commands a report of the drive sends, without decoding their answers.
void SendBare(const DeviceRecord& drive, const std::vector<int>& pages, std::vector<std::uint8_t>& buffer)
{
    const auto size = static_cast<std::uint32_t>(buffer.size());
    SendCdb(drive, cdb::Inquiry(36), buffer.data(), 36, 2);
    SendCdb(drive, cdb::InquiryPage(0x80, 252), buffer.data(), 252, 2);
    SendCdb(drive, cdb::LogSense(0x00, kLogCumulative, 0xFFFF), buffer.data(), size, 10);
    for (const int page : pages) {
        SendCdb(drive, cdb::LogSense(page, kLogCumulative, 0xFFFF), buffer.data(), size, 10);
    }
    SendCdb(drive, cdb::ReadDefectData12(false, true, kDefectBytesFromIndex, 8), buffer.data(), 8, 2);
}

void ReportOverhead(const fs::path& home, Verdicts& verdicts)
{
    WriteOneDriveMachine(home / "one.json");
    setenv("HARROW_MACHINE", (home / "one.json").c_str(), 1);
    setenv("HARROW_STATE", (home / "one-state").c_str(), 1);
    if (!InitSystem("Harrow Viraradiza")) {
        std::fprintf(stderr, "the computer system could not be initialised\n");
        std::exit(1);
    }
    DeviceRecord drive;
    drive.hostAdapter = 0;
    drive.target = 0;
    drive.lun = 0;
    const HealthReport first = ReadDriveHealth(drive);
    std::vector<int> pages;
    for (const auto& [code, outcome] : first.pages) {
        pages.push_back(code);
    }
    std::vector<std::uint8_t> buffer(0xFFFF);
    std::size_t lines = 0;
    double health = 0;
    double bare = 0;
    for (int round = 0; round < kRounds; ++round) {  // interleaved, so drift hits both alike
        double start = harrow::bench::ProcessCpuSeconds();
        lines += HealthReportLines(ReadDriveHealth(drive)).size();
        health += harrow::bench::ProcessCpuSeconds() - start;
        start = harrow::bench::ProcessCpuSeconds();
        SendBare(drive, pages, buffer);
        bare += harrow::bench::ProcessCpuSeconds() - start;
    }
    CComputerSystem::Destroy();
    std::printf("health report of one drive (%zu pages, %zu lines): %.3f ms processor time, bare commands %.3f ms\n",
                pages.size(), lines / kRounds, health / kRounds * 1000, bare / kRounds * 1000);
    if (HealthBits(first) == 0 || pages.size() < 10) {
        verdicts.NotMeasured("health report above its commands", "the drive did not fill every page");
        return;
    }
    verdicts.Check("health report above its commands, processor time", (health - bare) / kRounds * 1000,
                   Bound::AtMost, kMaxOverheadMs, " ms");
}

struct ChildRun {
    int exitCode = -1;
    double seconds = 0;
    double cpuSeconds = 0;
    double peakMiB = 0;
};

ChildRun RunCli(const std::vector<std::string>& arguments, const fs::path& state, const fs::path& work)
{
    setenv("HARROW_STATE", state.c_str(), 1);
    std::vector<std::string> argv{HARROW_CLI_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (std::string& each : argv) {
        pointers.push_back(each.data());
    }
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, work.c_str());
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    ChildRun run;
    if (posix_spawn(&child, argv[0].c_str(), &actions, nullptr, pointers.data(), environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    run.cpuSeconds = harrow::bench::CpuSeconds(usage);
    return run;
}

void FleetMetrics(const fs::path& home, Verdicts& verdicts)
{
    WriteFleetMachine(home / "fleet.json");
    setenv("HARROW_MACHINE", (home / "fleet.json").c_str(), 1);
    fs::create_directories(home / "work");
    const ChildRun list = RunCli({"-l"}, home / "list-state", home / "work");
    const ChildRun metrics = RunCli({"--metrics", (home / "harrow.prom").string()}, home / "metrics-state",
                                    home / "work");
    std::ifstream prom(home / "harrow.prom");
    int reachable = 0;
    for (std::string line; std::getline(prom, line);) {
        reachable += line.starts_with("harrow_scsi_reachable{") && line.ends_with(" 1") ? 1 : 0;
    }
    std::printf("first start, 512 disks: -l %.3f s (%.3f s processor), --metrics %.3f s (%.3f s processor), exit %d\n",
                list.seconds, list.cpuSeconds, metrics.seconds, metrics.cpuSeconds, metrics.exitCode);
    verdicts.Check("disks in the metrics file", reachable, Bound::AtLeast, 512);
    verdicts.Check("--metrics against -l of 512 disks, processor time", metrics.cpuSeconds / list.cpuSeconds,
                   Bound::AtMost, kMaxMetricsRatio);
    verdicts.Check("--metrics of 512 disks, peak memory", metrics.peakMiB, Bound::AtMost, kMaxPeakMiB, " MiB");
}

}  // namespace

int main()
{
    const fs::path home = MakeHome();
    Verdicts verdicts;
    ReportOverhead(home, verdicts);
    FleetMetrics(home, verdicts);
    fs::remove_all(home);
    return verdicts.ExitStatus();
}
