#include "machine/linux/LinuxHostAccess.h"

#include "machine/linux/SgPassThrough.h"

namespace harrow::machine {

BOOL LinuxHostAccess::PassThrough(const UnitAddress& address, const PortPath& path, const PassThroughCall& call,
                                  DWORD* bytesReturned, DWORD* error) const
{
    PassThroughCall addressed = call;
    addressed.request.PathId = path.pathId;
    addressed.request.TargetId = path.targetId;
    addressed.request.Lun = address.lun;
    const auto send = [this, &address](sg_io_hdr& header) { return nodes->Send(address, header); };
    return RunSgPassThrough(send, addressed, bytesReturned, error);
}

}  // namespace harrow::machine
