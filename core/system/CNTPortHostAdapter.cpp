#include "core/system/CNTPortHostAdapter.h"

#include "core/transport/CNTPortDriver.h"
#include "core/transport/SCSI_NTPortIoCtl.h"

CNTPortHostAdapter::CNTPortHostAdapter(int adapterNumber) : CHostAdapter(adapterNumber)
{
    SetDriver(CNTPortDriver::Acquire());
}

unsigned long CNTPortHostAdapter::GetMaxTransferBytes()
{
    return static_cast<CNTPortDriver*>(GetDriver())->MaxTransferBytes(GetAssignedID());
}

CScsiIoCtl* CNTPortHostAdapter::CreateIoCtl(const CDevAddress& address, unsigned char blockIndex)
{
    return new SCSI_NTPortIoCtl(address, blockIndex);
}

bool CNTPortHostAdapter::MayAnswer(int target, unsigned long lun)
{
    const CDevAddress address(GetAssignedID(), target, static_cast<std::int32_t>(lun), -1, -1, -1);
    return GetDriver()->GetDeviceHandle(address) != nullptr;
}
