#pragma once

#include "core/system/CHostAdapter.h"

// A MegaRAID controller itself: its drives are reached through its channel
// adapters, so its own control blocks address no channel.
class CAMIRAIDHostAdapter final : public CHostAdapter {
public:
    explicit CAMIRAIDHostAdapter(int adapterNumber);

    CScsiIoCtl* CreateIoCtl(const CDevAddress& address, unsigned char blockIndex = 0) override;
    Error_t Rescan() override { return RescanCommon(); }
};
