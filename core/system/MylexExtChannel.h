#pragma once

#include "core/system/CHostAdapter.h"

// One channel of a Mylex RAID controller, an adapter whose targets are the
// drives behind that channel; every command to them is tunnelled through
// the controller's LUN.
class MylexExtChannel final : public CHostAdapter {
public:
    static constexpr int kTargets = 126;

    // controller: the adapter of the controller's LUN at (target, lun).
    MylexExtChannel(CHostAdapter* controller, int target, int lun, int channel);

    std::string GetScsiIDString() override;
    std::string GetInquiryString() override { return " "; }
    Error_t AddTarget(CTarget* target) override;
    CScsiIoCtl* CreateIoCtl(const CDevAddress& address, unsigned char blockIndex = 0) override;
    Error_t Rescan() override;

    // Probes RAID targets 0 to 125; ERR_INIT_FAILED when none answered.
    Error_t Init();
    // The controller LUN's address with this channel.
    const CDevAddress& GetAddress() const { return m_Address; }

private:
    CHostAdapter* m_Controller;
    CDevAddress m_Address;
};
