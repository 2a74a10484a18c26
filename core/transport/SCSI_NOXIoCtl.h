#pragma once

#include "core/transport/CScsiIoCtl.h"
#include "core/transport/NoxLibrary.h"

// A command slot on the Nox transport: the request is started by the Nox
// library and completes asynchronously; block 0 waits for it in the
// library, the others poll.
class SCSI_NOXIoCtl final : public CScsiIoCtl {
public:
    SCSI_NOXIoCtl(const CDevAddress& address, unsigned char blockIndex);
    SCSI_NOXIoCtl(const SCSI_NOXIoCtl& other);
    SCSI_NOXIoCtl& operator=(const SCSI_NOXIoCtl& other) = default;
    ~SCSI_NOXIoCtl() override;

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
    Error_t SetQueueType(QTYPE_ENUM type) override;
    Error_t ProcessError() override;

private:
    NoxRequest_s* Request() const;
    Error_t CompletedStatus(NoxRequest_s* request);
    void AbsorbUnitAttention();
};
