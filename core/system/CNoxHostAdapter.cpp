#include "core/system/CNoxHostAdapter.h"

#include "core/system/CComputerSystem.h"
#include "core/transport/SCSI_NOXIoCtl.h"
#include "core/transport/SCSI_NOXWrapper.h"

CNoxHostAdapter::CNoxHostAdapter(int adapterNumber) : CHostAdapter(adapterNumber)
{
    SetDriver(SCSI_NOXWrapper::Acquire());
}

CScsiIoCtl* CNoxHostAdapter::CreateIoCtl(const CDevAddress& address, unsigned char blockIndex)
{
    return new SCSI_NOXIoCtl(address, blockIndex);
}

Error_t CNoxHostAdapter::Rescan()
{
    RemoveAllTargets();
    GetDriver()->RescanBus(GetAssignedID());
    CComputerSystem::Instance()->ReloadDeviceHandles();
    const Error_t result = Init();
    CComputerSystem::Instance()->ReloadDeviceHandles();
    return result;
}
