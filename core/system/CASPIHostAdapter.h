#pragma once

#include "core/system/CHostAdapter.h"

// An adapter reached through the ASPI layer. Without the layer it has no
// driver object, and its inquiry says the driver is not installed.
class CASPIHostAdapter final : public CHostAdapter {
public:
    explicit CASPIHostAdapter(int adapterNumber);

    CScsiIoCtl* CreateIoCtl(const CDevAddress& address, unsigned char blockIndex = 0) override;
    Error_t Rescan() override { return RescanCommon(); }
    // What the layer's adapter inquiry says.
    unsigned long GetMaxTransferBytes() override;
};
