#include "core/devices/CLibraryDev.h"

CLibraryDev::CLibraryDev(SCSIDevice* probe)
    : SCSIDevice(probe->GetHostAdapter(), probe->GetHANum(), probe->GetTargetNum(), probe->GetLUNNum())
{
    AdoptIdentity(*probe);
}

Error_t CLibraryDev::Init()
{
    return SCSIDevice::Init();
}
