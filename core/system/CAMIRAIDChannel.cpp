#include "core/system/CAMIRAIDChannel.h"

#include "core/system/CComputerSystem.h"
#include "core/transport/CAMIRAIDDriver.h"
#include "core/transport/SCSI_AMIRAID35xIoCtl.h"

CAMIRAIDChannel::CAMIRAIDChannel(int adapterNumber) : CHostAdapter(adapterNumber)
{
    SetDriver(CAMIRAIDDriver::Acquire());
}

void CAMIRAIDChannel::SetChannel(int channel, int controllerPort)
{
    m_Channel = channel;
    m_ControllerPort = controllerPort;
}

Error_t CAMIRAIDChannel::Inquiry()
{
    int targetId = kNoTargetId;
    std::string manager;
    std::string adapter;
    long devices = 0;
    const Error_t result = GetDriver()->AdapterInquiry(GetAssignedID(), &targetId, &manager, &adapter, &devices);
    if (result != ERR_NONE) {
        return result;
    }
    ApplyInquiry(targetId, std::move(manager), std::move(adapter), devices, false);
    return ERR_NONE;
}

CScsiIoCtl* CAMIRAIDChannel::CreateIoCtl(const CDevAddress& address, unsigned char blockIndex)
{
    return new SCSI_AMIRAID35xIoCtl(address, blockIndex, m_ControllerPort, m_Channel);
}

Error_t CAMIRAIDChannel::Rescan()
{
    RemoveAllTargets();
    if (GetDriver() != nullptr) {
        GetDriver()->RescanBus(GetAssignedID());
    }
    const Error_t result = Init();
    CComputerSystem::Instance()->ReloadDeviceHandles();
    return result;
}
