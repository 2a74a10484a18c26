#pragma once

#include "core/transport/CScsiIoCtl.h"
#include "core/transport/SRB_ExecSCSICmd.h"

class CASPIDriver;

// A command slot on the ASPI transport: the request is one execute-command
// block that the ASPI layer finishes on its own; block 0 waits for it, the
// others are polled.
class SCSI_ASPIIoCtl final : public CScsiIoCtl {
public:
    SCSI_ASPIIoCtl(const CDevAddress& address, unsigned char blockIndex);
    SCSI_ASPIIoCtl(const SCSI_ASPIIoCtl& other);
    SCSI_ASPIIoCtl& operator=(const SCSI_ASPIIoCtl& other) = default;
    ~SCSI_ASPIIoCtl() override;

    Error_t DoIO() override;
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

private:
    SRB_ExecSCSICmd* Request() const;
    void WriteAddress();

    // Sent and possibly still in the layer's hands: the block must not go
    // away under it.
    bool m_bSent = false;
};
