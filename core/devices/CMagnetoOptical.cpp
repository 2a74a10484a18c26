#include "core/devices/CMagnetoOptical.h"

CMagnetoOptical::CMagnetoOptical(SCSIDevice* probe)
    : SCSIDevice(probe->GetHostAdapter(), probe->GetHANum(), probe->GetTargetNum(), probe->GetLUNNum())
{
    SetDevType(probe->GetDevType());
    if (probe->IsDevLocked()) {
        LockDev();
    }
    SetVendor(probe->GetVendor());
    SetModelName(probe->GetModelName());
    SetFirmwareVersion(probe->GetFirmwareVersion());
}

Error_t CMagnetoOptical::Init()
{
    return SCSIDevice::Init();
}
