// A throw-away home for one test: registry, drive state, Windows folder and
// XDG folders in a fresh temporary folder, and a way to switch machine files.
#pragma once

#include "platform/DeviceNamespace.h"
#include "platform/Registry.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace test_support {

inline std::filesystem::path MakeTestHome(const std::string& area)
{
    std::string pattern = (std::filesystem::temp_directory_path() / ("harrow-" + area + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make the test folder " + pattern);
    }
    const std::filesystem::path dir = pattern;
    setenv("HARROW_REGISTRY", (dir / "registry.reg").c_str(), 1);
    setenv("HARROW_STATE", (dir / "state").c_str(), 1);
    setenv("HARROW_WINDIR", (dir / "windows").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    setenv("XDG_STATE_HOME", (dir / "xdgstate").c_str(), 1);
    return dir;
}

// Writes json as the home's machine file and makes it the active machine.
inline void UseMachineFile(const std::filesystem::path& dir, const std::string& json)
{
    const std::filesystem::path file = dir / "machine.json";
    std::ofstream(file) << json;
    setenv("HARROW_MACHINE", file.c_str(), 1);
    harrow::platform::SetActiveMachine(nullptr);
    harrow::platform::ReloadRegistry();
}

// Back to the default machine and registry; removes the folder.
inline void LeaveTestHome(const std::filesystem::path& dir)
{
    harrow::platform::SetActiveMachine(nullptr);
    unsetenv("HARROW_MACHINE");
    harrow::platform::ReloadRegistry();
    std::filesystem::remove_all(dir);
}

}  // namespace test_support
