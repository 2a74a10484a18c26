#include "machine/SimulatedMachine.h"

#include "machine/MylexController.h"
#include "machine/ScsiPortDevice.h"
#include "machine/StateFolder.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace harrow::machine {
namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A device number as Windows spells it: decimal, no sign, no leading zeros.
std::optional<int> DeviceNumber(const std::string& digits)
{
    if (digits.empty() || digits.size() > 5 || (digits.size() > 1 && digits[0] == '0') ||
        !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); })) {
        return std::nullopt;
    }
    return std::stoi(digits);
}

// "scsi3:" gives 3.
std::optional<int> PortNumberOf(const std::string& lowerName)
{
    const std::string prefix = "scsi";
    if (lowerName.rfind(prefix, 0) != 0 || lowerName.size() < prefix.size() + 2 || lowerName.back() != ':') {
        return std::nullopt;
    }
    return DeviceNumber(lowerName.substr(prefix.size(), lowerName.size() - prefix.size() - 1));
}

// The drive factory names the unit and field; the file's name comes from here.
std::unique_ptr<LogicalUnit> MakeUnit(const UnitFactory& makeUnit, const UnitSpec& described,
                                      const std::filesystem::path& stateDir, const std::string& source)
{
    try {
        if (described.json.contains("mylex")) {
            return MakeMylexController(described.json, described.where, stateDir, makeUnit);
        }
        return makeUnit(described.json, described.where, stateDir);
    } catch (const MachineFileError& e) {
        throw MachineFileError(source + ": " + e.what());
    }
}

}  // namespace

SimulatedMachine::SimulatedMachine(const MachineSpec& described, const std::string& source,
                                   const std::filesystem::path& stateRoot, const UnitFactory& makeUnit)
    : m_aspiBufferLimit(described.aspiBufferLimit)
{
    for (const PortSpec& portSpec : described.ports) {
        std::vector<std::shared_ptr<SimulatedUnit>> units;
        for (const UnitSpec& unitSpec : portSpec.units) {
            const auto stateDir = UnitStateFolder(stateRoot, described.name, portSpec.number, unitSpec.bus,
                                                  unitSpec.target, unitSpec.lun);
            units.push_back(std::make_shared<SimulatedUnit>(unitSpec, MakeUnit(makeUnit, unitSpec, stateDir, source)));
        }
        auto port = std::make_shared<SimulatedPort>(portSpec, std::move(units), source);
        for (const auto& claimed : port->ClaimedUnits()) {
            m_classes[Lower(ClassNameFor(claimed.peripheralType))].push_back({port, claimed.unit});
        }
        if (portSpec.nox) {
            m_noxPorts.push_back({static_cast<DWORD>(portSpec.number), static_cast<BYTE>(portSpec.buses),
                                  static_cast<BYTE>(portSpec.initiatorId), portSpec.noxHidden ? BYTE{1} : BYTE{0},
                                  portSpec.noxPseudo ? BYTE{1} : BYTE{0}});
        }
        m_ports.emplace(portSpec.number, std::move(port));
    }
}

std::unique_ptr<platform::Device> SimulatedMachine::Open(const std::string& name, DWORD, DWORD* error)
{
    const std::string lower = Lower(name);
    if (const auto number = PortNumberOf(lower)) {
        if (const auto port = m_ports.find(*number); port != m_ports.end()) {
            *error = ERROR_SUCCESS;
            return std::make_unique<ScsiPortDevice>(port->second);
        }
    }
    for (const auto& [className, entries] : m_classes) {
        if (lower.rfind(className, 0) != 0) {
            continue;
        }
        const auto index = DeviceNumber(lower.substr(className.size()));
        if (index && static_cast<std::size_t>(*index) < entries.size()) {
            *error = ERROR_SUCCESS;
            return std::make_unique<ClassDevice>(entries[*index].port, entries[*index].unit);
        }
    }
    if (lower == Lower(kNoxClassDevice) && !m_noxPorts.empty()) {
        *error = ERROR_SUCCESS;
        return std::make_unique<NoxClassDevice>(m_noxPorts);
    }
    *error = ERROR_FILE_NOT_FOUND;
    return nullptr;
}

std::vector<platform::RegistryKey> SimulatedMachine::DeviceMap() const
{
    std::vector<platform::RegistryKey> keys;
    for (const auto& [number, port] : m_ports) {
        auto portKeys = DeviceMapKeys(port->Listing());
        keys.insert(keys.end(), std::make_move_iterator(portKeys.begin()), std::make_move_iterator(portKeys.end()));
    }
    return keys;
}

}  // namespace harrow::machine
