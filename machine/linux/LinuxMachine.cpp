#include "machine/linux/LinuxMachine.h"

#include "machine/linux/SysfsMachine.h"

namespace harrow::machine {

std::unique_ptr<platform::Machine> MakeLinuxMachine()
{
    return std::make_unique<SysfsMachine>("/sys", "/dev", std::make_shared<KernelSgIo>());
}

}  // namespace harrow::machine
