#include "core/system/CLumenHostAdapter.h"

#include "core/transport/CLumenDriver.h"
#include "core/transport/SCSI_LumenIoCtl.h"

CLumenHostAdapter::CLumenHostAdapter(int adapterNumber) : CHostAdapter(adapterNumber)
{
    SetDriver(CLumenDriver::Acquire());
}

CScsiIoCtl* CLumenHostAdapter::CreateIoCtl(const CDevAddress& address, unsigned char blockIndex)
{
    return new SCSI_LumenIoCtl(address, blockIndex);
}
