// Builds the simulated logical unit that one unit of a machine file describes.
#pragma once

#include "machine/LogicalUnit.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace harrow::machine {

// A machine file that cannot be used: what names the file and the field
// ("machine.json: ports[0].units[2].blocks: ...").
class MachineFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// unit: the JSON object of one unit; where: its position for messages
// ("ports[0].units[2]"); stateDir: the folder that keeps this unit's state
// across runs (created when missing). Throws MachineFileError.
std::unique_ptr<LogicalUnit> MakeSimulatedUnit(const nlohmann::json& unit, const std::string& where,
                                               const std::filesystem::path& stateDir);

}  // namespace harrow::machine
