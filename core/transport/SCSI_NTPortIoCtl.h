#pragma once

#include "core/transport/CScsiIoCtl.h"
#include "core/transport/NTPortAdapter.h"
#include "core/transport/NTPortRequest.h"

#include <memory>

// A command slot on the NT SCSI port transport: the request is a
// pass-through structure sent to the unit's handle by the port driver object.
class SCSI_NTPortIoCtl final : public CScsiIoCtl {
public:
    SCSI_NTPortIoCtl(const CDevAddress& address, unsigned char blockIndex);
    SCSI_NTPortIoCtl(const SCSI_NTPortIoCtl& other);
    SCSI_NTPortIoCtl& operator=(const SCSI_NTPortIoCtl& other) = default;
    ~SCSI_NTPortIoCtl() override;

    // A request issued again goes out as it was built, not as the port left it.
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
    NTPortRequest_s* Request() const;
    void RestoreBuiltRequest();

    // Where the unit sits on its port, fixed for the driver's lifetime.
    Error_t m_PathStatus = ERR_NO_HOST_ADAPTER;
    NTPortPath_s m_Path{};
    // The pass-through as CompleteCmd built it: the port rewrites the data
    // and sense lengths in place. Shared by copies, like the request.
    std::shared_ptr<SCSI_PASS_THROUGH_DIRECT> m_pBuilt = std::make_shared<SCSI_PASS_THROUGH_DIRECT>();
};
