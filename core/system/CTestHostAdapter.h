#pragma once

#include "core/system/CHostAdapter.h"

// An adapter of the test transport: the library runs without SCSI hardware.
class CTestHostAdapter final : public CHostAdapter {
public:
    explicit CTestHostAdapter(int adapterNumber);

    CScsiIoCtl* CreateIoCtl(const CDevAddress& address, unsigned char blockIndex = 0) override;
    Error_t Rescan() override { return RescanCommon(); }
};
