// Speed and memory of the simulated drives: a 64 KiB READ(10) against memcpy,
// the cost of TEST UNIT READY, and the peak memory of a process holding a
// set of units (one of each kind, and a 2 TB drive).
#include "machine/drives/DriveFactory.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using harrow::machine::LogicalUnit;
using harrow::machine::ScsiRequest;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

long PeakKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

void Send(LogicalUnit& unit, std::vector<std::uint8_t> cdb, std::vector<std::uint8_t>& data)
{
    ScsiRequest request;
    request.cdb = cdb;
    request.data = data;
    if (unit.Execute(request).status != 0) {
        std::fprintf(stderr, "command 0x%02X failed\n", cdb[0]);
        std::exit(1);
    }
}

}  // namespace

int main()
{
    const auto root = std::filesystem::temp_directory_path() / ("harrow-bench-" + std::to_string(getpid()));
    const std::vector<nlohmann::json> units = {
        {{"type", "disk"}, {"blocks", 3907029168ULL}},  // 2 TB
        {{"type", "disk"}, {"vendor", "SEAGATE"}, {"dst", false}},
        {{"type", "tape"}},
        {{"type", "cdrom"}},
        {{"type", "changer"}}};
    std::vector<std::unique_ptr<LogicalUnit>> held;
    for (std::size_t i = 0; i < units.size(); ++i) {
        held.push_back(harrow::machine::MakeSimulatedUnit(units[i], "units[" + std::to_string(i) + "]",
                                                          root / std::to_string(i)));
    }
    LogicalUnit& disk = *held[0];

    constexpr int kRounds = 20000;
    std::vector<std::uint8_t> block(64 * 1024, 0x5A);
    Send(disk, {0x2A, 0, 0, 0, 0, 0, 0, 0, 128, 0}, block);
    auto start = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
        Send(disk, {0x28, 0, 0, 0, 0, 0, 0, 0, 128, 0}, block);
    }
    const double readRate = kRounds * 64.0 / 1024 / Seconds(start);
    std::vector<std::uint8_t> copy(block.size());
    start = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
        block[i % block.size()] = static_cast<std::uint8_t>(i);
        std::memcpy(copy.data(), block.data(), block.size());
    }
    const double copyRate = kRounds * 64.0 / 1024 / Seconds(start);

    constexpr int kUnitReady = 200000;
    std::vector<std::uint8_t> none;
    start = Clock::now();
    for (int i = 0; i < kUnitReady; ++i) {
        Send(disk, {0x00, 0, 0, 0, 0, 0}, none);
    }
    const double unitReady = Seconds(start) / kUnitReady * 1e6;

    std::printf("READ(10) 64 KiB from a written region: %.0f MiB/s\n", readRate);
    std::printf("memcpy 64 KiB:                         %.0f MiB/s\n", copyRate);
    std::printf("ratio READ/memcpy:                     %.2f (target >= 0.50)\n", readRate / copyRate);
    std::printf("TEST UNIT READY:                       %.2f us/command (target < 2)\n", unitReady);
    std::printf("peak memory (VmHWM), %zu units:         %.1f MiB (target < 32)\n", held.size(),
                PeakKiB() / 1024.0);
    held.clear();
    std::filesystem::remove_all(root);
    return 0;
}
