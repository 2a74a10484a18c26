// What the front end, the core and the pass-through add to a VERIFY(10)
// above the device server. One run sends the verifies of a generic long test
// over a simulated drive of the given size, either through the front end
// (GenericLongTest, pause 0) or straight to a device server of the same
// drive; verify_overhead.sh runs it under callgrind, collecting only the
// pass, and turns the instruction counts into a figure per command.
// Usage: verify_overhead frontend|direct BLOCKS
#include "bench/BenchHome.h"
#include "core/system/CComputerSystem.h"
#include "frontend/CommandRoutine.h"
#include "frontend/DeviceRecord.h"
#include "frontend/HostTests.h"
#include "frontend/InitSystem.h"
#include "machine/drives/DriveFactory.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kChunk = 4095;  // the long test's VERIFY length

nlohmann::json Disk(std::uint64_t blocks)
{
    return {{"target", 0}, {"type", "disk"}, {"vendor", "MERIDIAN"}, {"product", "MD64G"}, {"blocks", blocks},
            {"blockSize", 512}};
}

fs::path MakeHome(std::uint64_t blocks)
{
    const fs::path home = harrow::bench::MakeBenchHome("harrow-bench");
    const nlohmann::json machine = {
        {"name", "bench-verify"},
        {"ports", {{{"port", 0}, {"driver", "aic78xx"}, {"deviceName", "AIC-7899"}, {"units", {Disk(blocks)}}}}}};
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

}  // namespace

// Outside any namespace, so callgrind's --toggle-collect names them plainly.
__attribute__((noinline)) void DirectPass(harrow::machine::LogicalUnit& unit, std::uint64_t blocks)
{
    std::array<std::uint8_t, 10> cdb{0x2F};
    harrow::machine::ScsiRequest request;
    request.cdb = cdb;
    request.timeoutSeconds = 10;
    for (std::uint64_t lba = 0; lba < blocks; lba += kChunk) {
        const auto count = static_cast<std::uint16_t>(std::min<std::uint64_t>(kChunk, blocks - lba));
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

__attribute__((noinline)) void FrontEndPass()
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

int main(int argc, char** argv)
{
    const std::string mode = argc == 3 ? argv[1] : "";
    const std::uint64_t blocks = argc == 3 ? std::strtoull(argv[2], nullptr, 10) : 0;
    if ((mode != "frontend" && mode != "direct") || blocks == 0) {
        std::fprintf(stderr, "usage: verify_overhead frontend|direct BLOCKS\n");
        return 2;
    }
    const fs::path home = MakeHome(blocks);
    if (mode == "direct") {
        auto unit = harrow::machine::MakeSimulatedUnit(Disk(blocks), "ports[0].units[0]", home / "direct");
        DirectPass(*unit, blocks);
    } else {
        if (!InitSystem("Harrow Viraradiza")) {
            std::fprintf(stderr, "the computer system could not be initialised\n");
            return 1;
        }
        SharedBuffer();
        FrontEndPass();
        CComputerSystem::Destroy();
    }
    fs::remove_all(home);
    return 0;
}
