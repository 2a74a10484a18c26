#include "core/devices/CMagnetoOptical.h"

CMagnetoOptical::CMagnetoOptical(SCSIDevice* probe)
    : SCSIDevice(probe->GetHostAdapter(), probe->GetHANum(), probe->GetTargetNum(), probe->GetLUNNum())
{
    AdoptIdentity(*probe);
}

Error_t CMagnetoOptical::Init()
{
    return SCSIDevice::Init();
}
