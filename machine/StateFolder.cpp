#include "machine/StateFolder.h"

#include <algorithm>
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

void NewStateFolders::Note(const std::filesystem::path& folder)
{
    std::error_code error;
    if (std::filesystem::exists(folder, error)) {
        return;
    }
    m_units.push_back(folder);
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path at = folder.parent_path();
         at.has_relative_path() && !std::filesystem::exists(at, error) &&
         std::find(m_parents.begin(), m_parents.end(), at) == m_parents.end();
         at = at.parent_path()) {
        missing.push_back(at);
    }
    m_parents.insert(m_parents.end(), missing.rbegin(), missing.rend());
}

void NewStateFolders::Remove() noexcept
{
    std::error_code error;
    for (const auto& unit : m_units) {
        std::filesystem::remove_all(unit, error);
    }
    for (auto parent = m_parents.rbegin(); parent != m_parents.rend(); ++parent) {
        std::filesystem::remove(*parent, error);
    }
    m_units.clear();
    m_parents.clear();
}

std::filesystem::path UnitStateFolder(const std::filesystem::path& root, const std::string& machineName, int port,
                                      int bus, int target, int lun)
{
    return root / machineName /
           ("p" + std::to_string(port) + "b" + std::to_string(bus) + "t" + std::to_string(target) + "l" +
            std::to_string(lun));
}

}  // namespace harrow::machine
