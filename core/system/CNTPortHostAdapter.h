#pragma once

#include "core/system/CHostAdapter.h"

// An adapter reached through the NT SCSI port pass-through transport.
class CNTPortHostAdapter final : public CHostAdapter {
public:
    explicit CNTPortHostAdapter(int adapterNumber);

    CScsiIoCtl* CreateIoCtl(const CDevAddress& address, unsigned char blockIndex = 0) override;
    Error_t Rescan() override { return RescanCommon(); }
    // The port listed every unit it holds; any other address gets no handle.
    bool MayAnswer(int target, unsigned long lun) override;
    // What the port answered to IOCTL_SCSI_GET_CAPABILITIES.
    unsigned long GetMaxTransferBytes() override;
};
