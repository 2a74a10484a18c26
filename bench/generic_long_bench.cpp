// The generic long test over a simulated 64 GiB drive, with the command pause
// at 0, against the VERIFY(10) rate of the same drive's device server called
// directly. Target: the test sustains at least 80 % of the direct rate.
// Everything lives in a throw-away home; the drive's data file is sparse.
#include "core/system/CComputerSystem.h"
#include "frontend/CommandRoutine.h"
#include "frontend/DeviceRecord.h"
#include "frontend/HostTests.h"
#include "frontend/InitSystem.h"
#include "machine/drives/DriveFactory.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kBlocks = 134217728;  // 64 GiB of 512-byte blocks
constexpr std::uint32_t kChunk = 4095;
constexpr std::uint64_t kCommands = (kBlocks + kChunk - 1) / kChunk;
constexpr int kRuns = 7;
// Passes of each run: one pass takes only milliseconds.
constexpr int kPasses = 10;
constexpr double kTarget = 0.80;

const nlohmann::json kDisk = {{"target", 0},      {"type", "disk"},     {"vendor", "MERIDIAN"},
                              {"product", "MD64G"}, {"blocks", kBlocks}, {"blockSize", 512}};

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

fs::path MakeHome()
{
    std::string pattern = (fs::temp_directory_path() / "harrow-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    const fs::path home = pattern;
    std::ofstream(home / "registry.reg") << "REGEDIT4\n\n"
                                            "[HKEY_CURRENT_USER\\Software\\Kestrel\\Harrow Viraradiza\\Options]\n"
                                            "\"CommandPauseMs\"=dword:00000000\n\n";
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

// One pass of VERIFY(10) commands over the drive, sent straight to the
// device server.
void DirectPass(harrow::machine::LogicalUnit& unit)
{
    std::array<std::uint8_t, 10> cdb{0x2F};
    harrow::machine::ScsiRequest request;
    request.cdb = cdb;
    request.timeoutSeconds = 10;
    for (std::uint64_t lba = 0; lba < kBlocks; lba += kChunk) {
        const auto count = static_cast<std::uint16_t>(std::min<std::uint64_t>(kChunk, kBlocks - lba));
        cdb[2] = static_cast<std::uint8_t>(lba >> 24);
        cdb[3] = static_cast<std::uint8_t>(lba >> 16);
        cdb[4] = static_cast<std::uint8_t>(lba >> 8);
        cdb[5] = static_cast<std::uint8_t>(lba);
        cdb[7] = static_cast<std::uint8_t>(count >> 8);
        cdb[8] = static_cast<std::uint8_t>(count);
        if (unit.Execute(request).status != 0) {
            std::fprintf(stderr, "direct VERIFY at LBA %llu failed\n", static_cast<unsigned long long>(lba));
            std::exit(1);
        }
    }
}

// The same commands through the front end: GenericLongTest over the drive.
void FrontEndPass()
{
    DeviceRecord record;
    record.hostAdapter = 0;
    record.target = 0;
    record.lun = 0;
    if (GenericLongTest(record) != HOST_TEST_PASSED) {
        std::fprintf(stderr, "the generic long test failed: %s\n", record.statusText.c_str());
        std::exit(1);
    }
}

// Commands per second of kPasses passes.
template <typename Pass>
double Rate(Pass pass)
{
    const auto start = Clock::now();
    for (int i = 0; i < kPasses; ++i) {
        pass();
    }
    return static_cast<double>(kCommands) * kPasses / Seconds(start);
}

// The test's own lines (start, progress, result) would bury the figures.
class QuietConsole {
public:
    QuietConsole() : m_saved(::dup(STDOUT_FILENO))
    {
        std::fflush(stdout);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
    ~QuietConsole()
    {
        std::fflush(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
    }
    QuietConsole(const QuietConsole&) = delete;
    QuietConsole& operator=(const QuietConsole&) = delete;

private:
    int m_saved;
};

}  // namespace

int main()
{
    const fs::path home = MakeHome();
    auto unit = harrow::machine::MakeSimulatedUnit(kDisk, "ports[0].units[0]", home / "direct");
    if (!InitSystem("Harrow Viraradiza")) {
        std::fprintf(stderr, "the computer system could not be initialised\n");
        return 1;
    }
    SharedBuffer();

    // Runs alternate, so a machine shared with other work slows both alike.
    std::vector<double> direct;
    std::vector<double> frontEnd;
    std::vector<double> ratios;
    for (int run = 0; run < kRuns; ++run) {
        direct.push_back(Rate([&] { DirectPass(*unit); }));
        QuietConsole quiet;
        frontEnd.push_back(Rate(FrontEndPass));
        ratios.push_back(frontEnd.back() / direct.back());
    }
    CComputerSystem::Destroy();
    unit.reset();
    fs::remove_all(home);

    const double ratio = Median(ratios);
    std::printf("VERIFY(10) of %u blocks over 64 GiB, %llu commands a pass; medians of %d runs of %d passes\n",
                kChunk, static_cast<unsigned long long>(kCommands), kRuns, kPasses);
    std::printf("device server called directly:  %.0f commands/s\n", Median(direct));
    std::printf("GenericLongTest (pause 0 ms):    %.0f commands/s\n", Median(frontEnd));
    std::printf("ratio:                           %.2f (target >= %.2f) %s\n", ratio, kTarget,
                ratio >= kTarget ? "PASS" : "FAIL");
    return 0;
}
