#include "oemtest/OemCommands.h"

#include <algorithm>

const std::vector<OemCommand>& OemCommands()
{
    // A user CDB may be anything, FORMAT UNIT included: it is asked for like a write.
    static const std::vector<OemCommand> commands = {
        {50000, "Sequential Read", OemFamily::Sequential, false},
        {50001, "Sequential Verify", OemFamily::Sequential, false},
        {50002, "Sequential Write", OemFamily::Sequential, true},
        {50003, "Sequential Write-Read", OemFamily::Sequential, true},
        {50004, "Sequential Write-Verify", OemFamily::Sequential, true},
        {50010, "Random Read", OemFamily::Random, false},
        {50011, "Random Write", OemFamily::Random, true},
        {50012, "Random Write-Read", OemFamily::Random, true},
        {50013, "Random Write-Verify", OemFamily::Random, true},
        {50020, "Random Seek", OemFamily::Seek, false},
        {50021, "Butterfly Seek", OemFamily::Seek, false},
        {50022, "Full-Stroke Seek", OemFamily::Seek, false},
        {50030, "User CDB", OemFamily::UserCdb, true},
    };
    return commands;
}

bool MovesData(const OemCommand& command)
{
    constexpr int kSequentialVerify = 50001;
    return command.family != OemFamily::Seek && command.id != kSequentialVerify;
}

const OemCommand* FindOemCommand(int id)
{
    const std::vector<OemCommand>& commands = OemCommands();
    const auto found = std::find_if(commands.begin(), commands.end(), [id](const OemCommand& c) { return c.id == id; });
    return found != commands.end() ? &*found : nullptr;
}
