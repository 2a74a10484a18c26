#include "core/system/CTarget.h"

#include "core/devices/SCSIDevice.h"

CTarget::CTarget(int adapterNumber, int targetNumber) : m_TargetNumber(targetNumber), m_AdapterNumber(adapterNumber)
{
}

CTarget::~CTarget()
{
    for (auto& [lun, device] : m_Luns) {
        delete device;
    }
}

int CTarget::AddSCSIDevice(SCSIDevice* device)
{
    SCSIDevice*& slot = m_Luns[static_cast<int>(device->GetLUNNum())];
    if (slot != device) {
        delete slot;
        slot = device;
    }
    return 0;
}

SCSIDevice* CTarget::GetSCSIDevice(int lun) const
{
    const auto found = m_Luns.find(lun);
    return found != m_Luns.end() ? found->second : nullptr;
}
