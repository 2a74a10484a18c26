#pragma once

#include "core/system/CHostAdapter.h"

// An ATAPI or ESDI port: listed with its identity, no transport, no devices.
class CIDEHostAdapter final : public CHostAdapter {
public:
    static constexpr long kAtapiDevices = 8;
    static constexpr int kAtapiTargetId = 7;

    explicit CIDEHostAdapter(int adapterNumber);

    Error_t Inquiry() override;
    CScsiIoCtl* CreateIoCtl(const CDevAddress& address, unsigned char blockIndex = 0) override;
    Error_t Rescan() override { return ERR_NONE; }

private:
    Error_t InquiryThroughAspi();
    Error_t InquiryFromDeviceMap();
};
