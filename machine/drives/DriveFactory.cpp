#include "machine/drives/DriveFactory.h"

#include "machine/drives/ChangerServer.h"
#include "machine/drives/CdromServer.h"
#include "machine/drives/DiskServer.h"
#include "machine/drives/TapeServer.h"
#include "machine/drives/UnitConfig.h"

namespace harrow::machine {

std::unique_ptr<LogicalUnit> MakeSimulatedUnit(const nlohmann::json& unit, const std::string& where,
                                               const std::filesystem::path& stateDir)
{
    using namespace drives;
    UnitConfig config = ParseUnitConfig(unit, where);
    switch (config.type) {
    case UnitType::Tape: return std::make_unique<TapeServer>(std::move(config));
    case UnitType::Cdrom: return std::make_unique<CdromServer>(std::move(config));
    case UnitType::Changer: return std::make_unique<ChangerServer>(std::move(config));
    case UnitType::Disk: break;
    }
    try {
        return std::make_unique<DiskServer>(std::move(config), stateDir);
    } catch (const std::runtime_error& e) {
        throw MachineFileError(where + ": " + e.what());
    }
}

}  // namespace harrow::machine
