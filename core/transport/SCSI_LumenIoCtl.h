#pragma once

#include "core/transport/CScsiIoCtl.h"

// The Lumen transport's control block: never used for a device, since the
// Lumen driver yields no adapter; every operation does nothing.
class SCSI_LumenIoCtl final : public CScsiIoCtl {
public:
    SCSI_LumenIoCtl(const CDevAddress& address, unsigned char blockIndex);
    SCSI_LumenIoCtl(const SCSI_LumenIoCtl&) = delete;
    SCSI_LumenIoCtl& operator=(const SCSI_LumenIoCtl&) = delete;
    ~SCSI_LumenIoCtl() override;

    Error_t GetDriverStatus() override;
    unsigned char* GetCdb(bool clear) override;
    Error_t SetBuffer(void* data, long length) override;
    Error_t CompleteCmd(unsigned char cdbLength, unsigned long dataLength, unsigned long flags, long timeout,
                        unsigned long lba, unsigned long blocks, unsigned char option) override;
    Error_t IsCommandComplete() override;
    SCSI_SenseData_s* GetSenseData() override;
    unsigned char GetCdbLen() override;
    void FillSRB(void* srb) override;
    bool GetIOStatii(Error_t* srbStatus, Error_t* haStatus, Error_t* targetStatus) override;
    Error_t ProcessError() override;
};
