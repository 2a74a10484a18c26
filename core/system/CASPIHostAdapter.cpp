#include "core/system/CASPIHostAdapter.h"

#include "core/system/AspiDriverSource.h"
#include "core/transport/CASPIDriver.h"
#include "core/transport/SCSI_ASPIIoCtl.h"

CASPIHostAdapter::CASPIHostAdapter(int adapterNumber) : CHostAdapter(adapterNumber)
{
    SetDriver(AcquireAspiDriver());
}

unsigned long CASPIHostAdapter::GetMaxTransferBytes()
{
    // Tests may stand in another driver object, which says nothing of its limit.
    auto* driver = dynamic_cast<CASPIDriver*>(GetDriver());
    return driver != nullptr && driver->IsLoaded() ? driver->MaxTransferBytes(GetAssignedID()) : 0;
}

CScsiIoCtl* CASPIHostAdapter::CreateIoCtl(const CDevAddress& address, unsigned char blockIndex)
{
    return new SCSI_ASPIIoCtl(address, blockIndex);
}
