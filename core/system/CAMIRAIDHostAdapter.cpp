#include "core/system/CAMIRAIDHostAdapter.h"

#include "core/transport/CAMIRAIDDriver.h"
#include "core/transport/SCSI_AMIRAID35xIoCtl.h"

namespace {

// A channel number the plug-in refuses, so the controller's own probe finds no drive twice.
constexpr int kNoChannel = 0xFF;

}  // namespace

CAMIRAIDHostAdapter::CAMIRAIDHostAdapter(int adapterNumber) : CHostAdapter(adapterNumber)
{
    SetDriver(CAMIRAIDDriver::Acquire());
}

CScsiIoCtl* CAMIRAIDHostAdapter::CreateIoCtl(const CDevAddress& address, unsigned char blockIndex)
{
    return new SCSI_AMIRAID35xIoCtl(address, blockIndex, GetAssignedID(), kNoChannel);
}
