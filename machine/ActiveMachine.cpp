// HARROW_MACHINE chooses the machine behind "\\.\" names: unset or "builtin"
// the demonstration machine, a path a machine file, "linux" this computer's
// SCSI hosts, "iscsi://..." remote iSCSI targets.
#include "machine/BuiltinMachine.h"
#include "machine/MachineFile.h"
#include "machine/SimulatedMachine.h"
#include "machine/StateFolder.h"
#include "machine/drives/DriveFactory.h"
#include "machine/iscsi/IscsiMachine.h"
#include "machine/linux/LinuxMachine.h"
#include "platform/DeviceNamespace.h"

#include <cstdlib>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace harrow::platform {
namespace {

std::unique_ptr<Machine> MakeSimulated(const machine::MachineSpec& described, const std::string& source)
{
    return std::make_unique<machine::SimulatedMachine>(described, source, machine::StateRoot(),
                                                       machine::MakeSimulatedUnit);
}

std::unique_ptr<Machine> MakeChosenMachine()
{
    const char* variable = std::getenv("HARROW_MACHINE");
    const std::string choice = variable != nullptr ? variable : "";
    if (choice.empty() || choice == "builtin") {
        return MakeSimulated(machine::ParseMachineText(machine::BuiltinMachineText(), "built-in machine", "builtin"),
                             "built-in machine");
    }
    if (choice == "linux") {
        return machine::MakeLinuxMachine();
    }
    if (choice.rfind("iscsi://", 0) == 0) {
        return machine::MakeIscsiMachine(choice);
    }
    return MakeSimulated(machine::ReadMachineFile(choice), choice);
}

std::mutex& SlotLock()
{
    static std::mutex lock;
    return lock;
}

std::unique_ptr<Machine>& Slot()
{
    static std::unique_ptr<Machine> machine;
    return machine;
}

// Why the chosen machine could not be made: a bad machine file is read once
// per run, not once for every device a program opens.
std::optional<std::string>& Failure()
{
    static std::optional<std::string> failure;
    return failure;
}

}  // namespace

Machine& ActiveMachine()
{
    const std::lock_guard<std::mutex> hold(SlotLock());
    if (Failure()) {
        throw std::runtime_error(*Failure());
    }
    if (!Slot()) {
        try {
            Slot() = MakeChosenMachine();
        } catch (const std::exception& failure) {
            Failure() = failure.what();
            throw;
        }
    }
    return *Slot();
}

void SetActiveMachine(std::unique_ptr<Machine> machine)
{
    const std::lock_guard<std::mutex> hold(SlotLock());
    Slot() = std::move(machine);
    Failure().reset();
}

}  // namespace harrow::platform
