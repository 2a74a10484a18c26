#include "machine/linux/LinuxHostAccess.h"

#include "machine/linux/SgPassThrough.h"

namespace harrow::machine {

BOOL LinuxHostAccess::PassThrough(const UnitAddress& address, const PortPath& path, const PassThroughCall& call,
                                  DWORD* bytesReturned, DWORD* error) const
{
    const auto sgName = SysfsTopology::ReadSgName(sysRoot, address);
    if (!sgName) {
        *error = ERROR_DEVICE_NOT_CONNECTED;
        return FALSE;
    }
    // Without the sg driver there is no way to send a raw command.
    if (sgName->empty()) {
        *error = ERROR_NOT_SUPPORTED;
        return FALSE;
    }
    PassThroughCall addressed = call;
    addressed.request.PathId = path.pathId;
    addressed.request.TargetId = path.targetId;
    addressed.request.Lun = address.lun;
    return RunSgPassThrough(sgIo, (devRoot / *sgName).string(), addressed, bytesReturned, error);
}

}  // namespace harrow::machine
