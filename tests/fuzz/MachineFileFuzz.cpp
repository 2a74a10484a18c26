// Reads arbitrary text as a machine file, then makes its first units on a
// state file taken from the rest of the input. Input: machine text, a zero
// byte, state file text.
#include "machine/MachineFile.h"
#include "machine/drives/DriveFactory.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    const std::string all(reinterpret_cast<const char*>(input), size);
    const std::size_t split = all.find('\0');
    const std::string machineText = all.substr(0, split);
    const std::string stateText = split == std::string::npos ? std::string() : all.substr(split + 1);
    harrow::machine::MachineSpec machine;
    try {
        machine = harrow::machine::ParseMachineText(machineText, "fuzz.json", "fuzz");
    } catch (const harrow::machine::MachineFileError&) {
        return 0;
    }
    const std::filesystem::path root = std::filesystem::current_path() / "fuzz-machine-state";
    int made = 0;
    for (const auto& port : machine.ports) {
        for (const auto& unit : port.units) {
            if (made++ == 2) {
                return 0;
            }
            std::filesystem::remove_all(root);
            std::filesystem::create_directories(root);
            if (!stateText.empty()) {
                std::ofstream(root / "state.json") << stateText;
            }
            try {
                harrow::machine::MakeSimulatedUnit(unit.json, unit.where, root);
            } catch (const std::runtime_error&) {
                // a refused unit or state file is a clear error, which is the point
            }
        }
    }
    return 0;
}
