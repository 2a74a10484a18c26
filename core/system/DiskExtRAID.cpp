#include "core/system/DiskExtRAID.h"

#include "core/system/MylexExtChannel.h"
#include "core/types/CEventBase.h"

DiskExtRAID::DiskExtRAID(MylexExtChannel* channel, const CDevAddress& address)
    : CDisk(channel, address.m_HostAdapter, address.m_Target, static_cast<unsigned long>(address.m_Lun)),
      m_RaidAddress(address)
{
}

Error_t DiskExtRAID::SetUp(MylexExtChannel* channel)
{
    if (channel == nullptr) {
        return ERR_DRIVER_FAILURE;
    }
    // Block 0 from the channel, INQUIRY and the serial number page, as any LUN is probed.
    if (SCSIDevice::Init() != ERR_NONE) {
        return ERR_INIT_FAILED;
    }
    try {
        ReadCapacity(0, 0, 0, nullptr, false);
    } catch (CEventBase* event) {
        delete event;  // a drive that cannot tell its capacity yet is still a disk
    }
    return ERR_NONE;
}
