#include "core/devices/CLibraryDev.h"

CLibraryDev::CLibraryDev(SCSIDevice* probe)
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

Error_t CLibraryDev::Init()
{
    return SCSIDevice::Init();
}
