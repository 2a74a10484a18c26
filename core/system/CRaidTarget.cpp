#include "core/system/CRaidTarget.h"

#include "core/system/DiskExtRAID.h"
#include "core/system/MylexExtChannel.h"

#include <memory>

CRaidTarget::CRaidTarget(const CDevAddress& address)
    : CTarget(address.m_HostAdapter, address.m_RaidTarget), m_Address(address)
{
}

Error_t CRaidTarget::Init(MylexExtChannel* channel)
{
    if (GetSCSIDevice(0) != nullptr) {
        return ERR_NONE;
    }
    // The tunnel's descriptor names a channel and a target but no LUN: every
    // LUN would reach the same drive, so only LUN 0 is asked for.
    CDevAddress address = m_Address;
    address.m_RaidLun = 0;
    auto disk = std::make_unique<DiskExtRAID>(channel, address);
    if (disk->SetUp(channel) != ERR_NONE) {
        return ERR_INIT_FAILED;
    }
    AddSCSIDevice(disk.release());
    return ERR_NONE;
}
