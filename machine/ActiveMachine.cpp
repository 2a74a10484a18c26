// Placeholder until the simulated machine lands: a machine with no devices.
#include "platform/DeviceNamespace.h"

namespace harrow::platform {
namespace {

class EmptyMachine final : public Machine {
public:
    std::unique_ptr<Device> Open(const std::string&, DWORD, DWORD* error) override
    {
        *error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    std::vector<RegistryKey> DeviceMap() const override { return {}; }
};

std::unique_ptr<Machine>& Slot()
{
    static std::unique_ptr<Machine> machine;
    return machine;
}

}  // namespace

Machine& ActiveMachine()
{
    if (!Slot()) {
        Slot() = std::make_unique<EmptyMachine>();
    }
    return *Slot();
}

void SetActiveMachine(std::unique_ptr<Machine> machine) { Slot() = std::move(machine); }

}  // namespace harrow::platform
