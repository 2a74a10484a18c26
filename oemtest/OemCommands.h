#pragma once

#include <vector>

// Which engine test family a command runs; they take different parameters.
enum class OemFamily {
    Sequential,
    Random,
    Seek,
    UserCdb,
};

// One entry of the plug-in's menu.
struct OemCommand {
    int id;
    const char* name;
    OemFamily family;
    // Overwrites data on the drives: asks first, naming them.
    bool writes;
};

const std::vector<OemCommand>& OemCommands();
// Null for an id the plug-in does not offer.
const OemCommand* FindOemCommand(int id);
// Whether the drives count what it moves: VERIFY and SEEK move no data, so
// their rates cannot be measured.
bool MovesData(const OemCommand& command);
