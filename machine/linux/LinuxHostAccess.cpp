#include "machine/linux/LinuxHostAccess.h"

#include "machine/linux/PassThrough.h"

namespace harrow::machine {

BOOL LinuxHostAccess::PassThrough(const UnitAddress& address, const SCSI_PASS_THROUGH_DIRECT& request, void* out,
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
    SCSI_PASS_THROUGH_DIRECT addressed = request;
    addressed.PathId = address.channel;
    addressed.TargetId = address.target;
    addressed.Lun = address.lun;
    return RunPassThrough(sgIo, (devRoot / *sgName).string(), addressed, out, bytesReturned, error);
}

}  // namespace harrow::machine
