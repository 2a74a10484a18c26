#pragma once

#include "core/system/CHostAdapter.h"

// An adapter configured for the Lumen transport; its driver reports no
// adapter, so it never gets targets.
class CLumenHostAdapter final : public CHostAdapter {
public:
    explicit CLumenHostAdapter(int adapterNumber);

    CScsiIoCtl* CreateIoCtl(const CDevAddress& address, unsigned char blockIndex = 0) override;
    Error_t Rescan() override { return RescanCommon(); }
};
