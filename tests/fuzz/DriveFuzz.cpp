// Feeds arbitrary CDBs and transfer lengths to every kind of simulated unit.
// Input: kind, CDB length, CDB bytes, 16-bit transfer length, data-out bytes.
#include "machine/drives/DriveFactory.h"

#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using harrow::machine::LogicalUnit;

std::vector<std::unique_ptr<LogicalUnit>> MakeUnits()
{
    // Fresh state for every run, in the folder the fuzzer runs in.
    const std::filesystem::path root = std::filesystem::current_path() / "fuzz-state";
    std::filesystem::remove_all(root);
    const nlohmann::json quick = {{"format", 0}, {"shortSelfTest", 0}, {"longSelfTest", 0}};
    const std::vector<nlohmann::json> units = {
        {{"type", "disk"}, {"blocks", 4096}, {"durations", quick}, {"faults", {{"mediumErrors", {7, 300}}}}},
        {{"type", "disk"}, {"vendor", "SEAGATE"}, {"blocks", 2048}, {"dst", false}, {"durations", quick}},
        {{"type", "disk"}, {"blocks", 4096}, {"durations", quick}, {"descriptorSense", true},
         {"faults", {{"mediumErrors", {7}}, {"formatFails", true}}}},
        {{"type", "tape"}},
        {{"type", "tape"}, {"descriptorSense", true}},
        {{"type", "cdrom"}, {"blocks", 1000}},
        {{"type", "changer"}}};
    std::vector<std::unique_ptr<LogicalUnit>> made;
    for (std::size_t i = 0; i < units.size(); ++i) {
        made.push_back(harrow::machine::MakeSimulatedUnit(units[i], "units[" + std::to_string(i) + "]",
                                                          root / std::to_string(i)));
    }
    return made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    static const auto units = MakeUnits();
    if (size < 4) {
        return 0;
    }
    LogicalUnit& unit = *units[input[0] % units.size()];
    const std::size_t cdbLength = 1 + input[1] % 16;
    if (size < 2 + cdbLength + 2) {
        return 0;
    }
    std::vector<std::uint8_t> cdb(input + 2, input + 2 + cdbLength);
    const std::size_t length = input[2 + cdbLength] << 8 | input[3 + cdbLength];
    std::vector<std::uint8_t> data(length, 0);
    const std::size_t rest = size - (4 + cdbLength);
    if (rest > 0 && length > 0) {
        std::memcpy(data.data(), input + 4 + cdbLength, std::min(rest, length));
    }

    harrow::machine::ScsiRequest request;
    request.cdb = cdb;
    request.direction = harrow::machine::DataDirection::Out;
    request.data = data;
    const auto result = unit.Execute(request);
    if (result.transferred > length || (result.status != 0 && result.status != 2 && result.status != 8)) {
        std::abort();
    }
    return 0;
}
