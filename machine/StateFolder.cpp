#include "machine/StateFolder.h"

#include <cstdlib>
#include <stdexcept>

namespace harrow::machine {
namespace {

const char* NonEmptyVariable(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace

std::filesystem::path StateRoot()
{
    if (const char* state = NonEmptyVariable("HARROW_STATE")) {
        return state;
    }
    if (const char* xdg = NonEmptyVariable("XDG_STATE_HOME")) {
        return std::filesystem::path(xdg) / "harrow";
    }
    if (const char* home = NonEmptyVariable("HOME")) {
        return std::filesystem::path(home) / ".local" / "state" / "harrow";
    }
    throw std::runtime_error("no folder for the simulated drives' state: set HARROW_STATE");
}

std::filesystem::path UnitStateFolder(const std::filesystem::path& root, const std::string& machineName, int port,
                                      int bus, int target, int lun)
{
    return root / machineName /
           ("p" + std::to_string(port) + "b" + std::to_string(bus) + "t" + std::to_string(target) + "l" +
            std::to_string(lun));
}

}  // namespace harrow::machine
