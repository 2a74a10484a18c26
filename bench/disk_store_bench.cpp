// The simulated disk store on a 64 GiB drive: the time of a random READ(10)
// of one never-written block at the device server, and the peak resident
// memory of HarrowCLI running the generic short test at 10 % (pause 0).
// Targets: under 20 µs a read, under 64 MiB resident. Everything lives in a
// throw-away folder; HarrowCLI is looked for beside this program.
#include "bench/BenchHome.h"
#include "bench/BenchVerdict.h"
#include "machine/drives/DriveFactory.h"

#include <nlohmann/json.hpp>

#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kBlocks = 134217728;  // 64 GiB of 512-byte blocks
constexpr int kReads = 20000;
constexpr double kReadTargetMicroseconds = 20;
constexpr long kResidentTargetKiB = 64 * 1024;

const nlohmann::json kDisk = {{"target", 0},      {"type", "disk"},     {"vendor", "MERIDIAN"},
                              {"product", "MD64G"}, {"blocks", kBlocks}, {"blockSize", 512}};

fs::path MakeHome()
{
    const fs::path home = harrow::bench::MakeBenchHome("harrow-bench");
    const nlohmann::json machine = {
        {"name", "bench-64g"},
        {"ports", {{{"port", 0}, {"driver", "aic78xx"}, {"deviceName", "AIC-7899"}, {"units", {kDisk}}}}}};
    std::ofstream(home / "machine.json") << machine.dump(2);
    setenv("HARROW_MACHINE", (home / "machine.json").c_str(), 1);
    setenv("HARROW_STATE", (home / "state").c_str(), 1);
    setenv("HARROW_REGISTRY", (home / "registry.reg").c_str(), 1);
    setenv("HARROW_WINDIR", (home / "windows").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "xdg").c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "xdg").c_str(), 1);
    setenv("XDG_STATE_HOME", (home / "xdg").c_str(), 1);
    return home;
}

// Microseconds of processor time a one-block READ(10) at a random LBA costs, on average.
double RandomReadMicroseconds(const fs::path& state)
{
    auto unit = harrow::machine::MakeSimulatedUnit(kDisk, "ports[0].units[0]", state);
    std::array<std::uint8_t, 10> cdb{0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0};
    std::vector<std::uint8_t> block(512);
    harrow::machine::ScsiRequest request;
    request.cdb = cdb;
    request.data = block;
    request.timeoutSeconds = 10;
    std::mt19937_64 random(1);
    const double start = harrow::bench::ThreadCpuSeconds();
    for (int i = 0; i < kReads; ++i) {
        const std::uint64_t lba = random() % kBlocks;
        for (int b = 0; b < 4; ++b) {
            cdb[2 + b] = static_cast<std::uint8_t>(lba >> (24 - 8 * b));
        }
        const auto result = unit->Execute(request);
        if (result.status != 0) {
            std::fprintf(stderr, "READ at LBA %llu failed\n", static_cast<unsigned long long>(lba));
            std::exit(1);
        }
    }
    return (harrow::bench::ThreadCpuSeconds() - start) / kReads * 1e6;
}

// Peak resident KiB of HarrowCLI -g 10% on the drive; -1 when it fails.
long ShortTestPeakKiB(const fs::path& cli, const fs::path& home)
{
    const pid_t child = fork();
    if (child == 0) {
        if (::chdir(home.c_str()) != 0) _exit(126);  // its log file goes there
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        execl(cli.c_str(), cli.c_str(), "-g", "10%", "0:0:0", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "HarrowCLI -g 10%% 0:0:0 failed (status %d)\n", status);
        return -1;
    }
    return usage.ru_maxrss;
}

}  // namespace

int main()
{
    const fs::path cli = fs::canonical("/proc/self/exe").parent_path() / "HarrowCLI";
    const fs::path home = MakeHome();
    const double read = RandomReadMicroseconds(home / "direct");
    const long peak = ShortTestPeakKiB(cli, home);
    fs::remove_all(home);

    std::printf("64 GiB simulated disk, data file sparse\n");
    harrow::bench::Verdicts verdicts;
    verdicts.Check("random READ(10) of one unwritten block, CPU", read, harrow::bench::Bound::AtMost,
                   kReadTargetMicroseconds, " us");
    if (peak < 0) {
        verdicts.NotMeasured("HarrowCLI -g 10% peak resident memory", "the test failed");
    } else {
        verdicts.Check("HarrowCLI -g 10% peak resident memory", peak / 1024.0, harrow::bench::Bound::AtMost,
                       kResidentTargetKiB / 1024.0, " MiB");
    }
    return verdicts.ExitStatus();
}
