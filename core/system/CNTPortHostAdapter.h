#pragma once

#include "core/system/CHostAdapter.h"

// An adapter reached through the NT SCSI port pass-through transport.
class CNTPortHostAdapter final : public CHostAdapter {
public:
    explicit CNTPortHostAdapter(int adapterNumber);

    CScsiIoCtl* CreateIoCtl(const CDevAddress& address, unsigned char blockIndex = 0) override;
    Error_t Rescan() override { return RescanCommon(); }
    // What the port answered to IOCTL_SCSI_GET_CAPABILITIES.
    unsigned long GetMaxTransferBytes() override;
};
