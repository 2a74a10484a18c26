// Where simulated units keep their state between runs:
// HARROW_STATE (default $XDG_STATE_HOME/harrow, XDG default ~/.local/state)
// / machine name / "p<port>b<bus>t<target>l<lun>". Deleting a machine's
// folder resets all its drives to new.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace harrow::machine {

// Throws std::runtime_error when neither HARROW_STATE, XDG_STATE_HOME nor
// HOME gives a folder.
std::filesystem::path StateRoot();

std::filesystem::path UnitStateFolder(const std::filesystem::path& root, const std::string& machineName, int port,
                                      int bus, int target, int lun);

// The state folders one start of a machine makes, so that a start that is
// refused takes them away again instead of leaving a thousand empty drives.
class NewStateFolders {
public:
    // Remembers a unit's folder and those of its parents that do not exist yet.
    void Note(const std::filesystem::path& folder);
    // Removes the noted unit folders whole, then the noted parents that are
    // empty: one another process filled meanwhile stays.
    void Remove() noexcept;

private:
    std::vector<std::filesystem::path> m_units;
    std::vector<std::filesystem::path> m_parents;  // parents before their children
};

}  // namespace harrow::machine
