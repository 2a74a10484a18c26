#include "core/system/CASPIHostAdapter.h"

#include "core/system/AspiDriverSource.h"
#include "core/transport/SCSI_ASPIIoCtl.h"

CASPIHostAdapter::CASPIHostAdapter(int adapterNumber) : CHostAdapter(adapterNumber)
{
    SetDriver(AcquireAspiDriver());
}

CScsiIoCtl* CASPIHostAdapter::CreateIoCtl(const CDevAddress& address, unsigned char blockIndex)
{
    return new SCSI_ASPIIoCtl(address, blockIndex);
}
