// Where simulated units keep their state between runs:
// HARROW_STATE (default $XDG_STATE_HOME/harrow, XDG default ~/.local/state)
// / machine name / "p<port>b<bus>t<target>l<lun>". Deleting a machine's
// folder resets all its drives to new.
#pragma once

#include <filesystem>
#include <string>

namespace harrow::machine {

// Throws std::runtime_error when neither HARROW_STATE, XDG_STATE_HOME nor
// HOME gives a folder.
std::filesystem::path StateRoot();

std::filesystem::path UnitStateFolder(const std::filesystem::path& root, const std::string& machineName, int port,
                                      int bus, int target, int lun);

}  // namespace harrow::machine
