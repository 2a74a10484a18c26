#pragma once

#include "core/system/CHostAdapter.h"

// One channel of a MegaRAID controller, an adapter of its own; every driver
// call addresses the controller's port.
class CAMIRAIDChannel final : public CHostAdapter {
public:
    explicit CAMIRAIDChannel(int adapterNumber);

    void SetChannel(int channel, int controllerPort);
    int GetChannel() const { return m_Channel; }
    int GetAssignedID() override { return m_ControllerPort; }
    Error_t Inquiry() override;
    CScsiIoCtl* CreateIoCtl(const CDevAddress& address, unsigned char blockIndex = 0) override;
    Error_t Rescan() override;

private:
    int m_Channel = -1;
    int m_ControllerPort = -1;
};
