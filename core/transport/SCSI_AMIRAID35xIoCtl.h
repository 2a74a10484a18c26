#pragma once

#include "core/transport/CAMIRAIDDriver.h"
#include "core/transport/CScsiIoCtl.h"

// A command slot for a drive behind a MegaRAID controller: the request goes
// to the plug-in, which answers when the controller has, with the sense data
// already fetched into the block's own sense buffer.
class SCSI_AMIRAID35xIoCtl final : public CScsiIoCtl {
public:
    // port: the controller's SCSI port number; channel: the channel the drive is on.
    SCSI_AMIRAID35xIoCtl(const CDevAddress& address, unsigned char blockIndex, int port, int channel);
    // The request points at this block's own sense buffer: a copy would share it.
    SCSI_AMIRAID35xIoCtl(const SCSI_AMIRAID35xIoCtl&) = delete;
    SCSI_AMIRAID35xIoCtl& operator=(const SCSI_AMIRAID35xIoCtl&) = delete;
    ~SCSI_AMIRAID35xIoCtl() override;

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
    AmiRaidRequest_s* Request() const;
    void WriteAddress(AmiRaidRequest_s* request) const;

    int m_Port;
    int m_Channel;
    unsigned char m_Sense[kSenseBytes] = {};
};
