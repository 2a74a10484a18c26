// A machine of simulated ports and drives, built from a machine description:
// "\\.\SCSIn:" opens port n, "\\.\PhysicalDriveN", "\\.\TapeN", "\\.\CdRomN"
// and "\\.\MediaChangerN" the class devices of claimed units (numbered in
// port, bus, target, LUN order), names in any letter case; "\\.\NOXCLASS"
// when a port is driven by the Nox driver.
#pragma once

#include "machine/ClassDevice.h"
#include "machine/MachineFile.h"
#include "machine/NoxClassDevice.h"
#include "machine/SimulatedPort.h"
#include "platform/DeviceNamespace.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace harrow::machine {

// Makes the drive behind one unit (MakeSimulatedUnit, or a test's own).
using UnitFactory = std::function<std::unique_ptr<LogicalUnit>(
    const nlohmann::json& unit, const std::string& where, const std::filesystem::path& stateDir)>;

class SimulatedMachine final : public platform::Machine {
public:
    // source names the description in errors; each unit's state lives under
    // stateRoot / described.name. Throws MachineFileError.
    SimulatedMachine(const MachineSpec& described, const std::string& source, const std::filesystem::path& stateRoot,
                     const UnitFactory& makeUnit);

    std::unique_ptr<platform::Device> Open(const std::string& name, DWORD access, DWORD* error) override;
    std::vector<platform::RegistryKey> DeviceMap() const override;
    std::optional<DWORD> AspiBufferLimit() const override { return m_aspiBufferLimit; }

private:
    struct ClassEntry {
        std::shared_ptr<SimulatedPort> port;
        std::shared_ptr<SimulatedUnit> unit;
    };

    std::map<int, std::shared_ptr<SimulatedPort>> m_ports;
    std::map<std::string, std::vector<ClassEntry>> m_classes;  // by lower-case class name
    std::vector<NoxPortEntry> m_noxPorts;
    std::optional<DWORD> m_aspiBufferLimit;
};

}  // namespace harrow::machine
