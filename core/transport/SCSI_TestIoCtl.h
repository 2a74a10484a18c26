#pragma once

#include "core/transport/CScsiIoCtl.h"
#include "core/transport/TestRequest.h"

// A command slot on the test transport; the simulated adapter answers at
// once, so every command is complete when DoIO returns.
class SCSI_TestIoCtl final : public CScsiIoCtl {
public:
    SCSI_TestIoCtl(const CDevAddress& address, unsigned char blockIndex);
    SCSI_TestIoCtl(const SCSI_TestIoCtl& other);
    SCSI_TestIoCtl& operator=(const SCSI_TestIoCtl& other) = default;
    ~SCSI_TestIoCtl() override;

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
    TestRequest_s* Request() const;
    void WriteAddress();
};
