#pragma once

#include "core/system/CHostAdapter.h"

// An adapter reached through the Nox driver library.
class CNoxHostAdapter final : public CHostAdapter {
public:
    explicit CNoxHostAdapter(int adapterNumber);

    CScsiIoCtl* CreateIoCtl(const CDevAddress& address, unsigned char blockIndex = 0) override;
    // The library relists every device, so every control block asks for its handle again.
    Error_t Rescan() override;
};
