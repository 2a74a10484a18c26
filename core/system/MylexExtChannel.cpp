#include "core/system/MylexExtChannel.h"

#include "core/system/CRaidTarget.h"
#include "core/transport/MylexExtIoCtl.h"
#include "core/types/StringPrintf.h"

#include <memory>

MylexExtChannel::MylexExtChannel(CHostAdapter* controller, int target, int lun, int channel)
    : CHostAdapter(channel), m_Controller(controller),
      m_Address(controller != nullptr ? controller->GetAssignedID() : -1, target, lun, channel, -1, -1)
{
    SetDevsSupported(kTargets);
}

std::string MylexExtChannel::GetScsiIDString()
{
    return StringPrintf("Channel %d", m_Address.m_RaidChannel);
}

Error_t MylexExtChannel::AddTarget(CTarget* target)
{
    if (target == nullptr || target->GetTargetNum() < 0 || target->GetTargetNum() >= kTargets ||
        GetTarget(target->GetTargetNum()) != nullptr) {
        delete target;  // out of range or a duplicate: the channel keeps what it has
        return ERR_INVALID_PARAM;
    }
    return CHostAdapter::AddTarget(target);
}

CScsiIoCtl* MylexExtChannel::CreateIoCtl(const CDevAddress& address, unsigned char blockIndex)
{
    return new MylexExtIoCtl(address, blockIndex, m_Controller);
}

Error_t MylexExtChannel::Rescan()
{
    RemoveAllTargets();
    return Init();
}

Error_t MylexExtChannel::Init()
{
    Error_t result = ERR_INIT_FAILED;
    for (int number = 0; number < kTargets; ++number) {
        if (GetTarget(number) != nullptr) {
            result = ERR_NONE;
            continue;
        }
        CDevAddress address = m_Address;
        address.m_RaidTarget = number;
        auto target = std::make_unique<CRaidTarget>(address);
        if (target->Init(this) != ERR_NONE) {
            continue;
        }
        AddTarget(target.release());
        result = ERR_NONE;
    }
    return result;
}
