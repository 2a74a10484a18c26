#include "core/system/CTestHostAdapter.h"

#include "core/transport/CTestDriver.h"
#include "core/transport/SCSI_TestIoCtl.h"

CTestHostAdapter::CTestHostAdapter(int adapterNumber) : CHostAdapter(adapterNumber)
{
    SetDriver(CTestDriver::Acquire());
}

CScsiIoCtl* CTestHostAdapter::CreateIoCtl(const CDevAddress& address, unsigned char blockIndex)
{
    return new SCSI_TestIoCtl(address, blockIndex);
}
