#pragma once

#include "core/transport/CScsiIoCtl.h"

#include <cstdint>
#include <memory>

class CHostAdapter;

// A command slot for a drive behind a Mylex RAID controller: the command
// travels to the controller's own LUN on an inner control block, first as a
// 32-byte descriptor, then as the data transfer, both numbered with one
// process-wide sequence number.
class MylexExtIoCtl final : public CScsiIoCtl {
public:
    static constexpr int kDescriptorBytes = 32;
    static constexpr int kDescriptorCdbOffset = 16;
    // The most one tunnelled command moves: CDB bytes 7 and 8 of the data step.
    static constexpr unsigned long kMaxTunnelBytes = 0xFFFF;

    // controller: the adapter of the controller's LUN, which makes the inner block.
    MylexExtIoCtl(const CDevAddress& address, unsigned char blockIndex, CHostAdapter* controller);
    MylexExtIoCtl(const MylexExtIoCtl&) = delete;
    MylexExtIoCtl& operator=(const MylexExtIoCtl&) = delete;
    ~MylexExtIoCtl() override;

    Error_t DoIO() override;
    CEventBase* GetErrorEvent() override;
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

    CScsiIoCtl* Inner() const { return m_Inner.get(); }

private:
    static std::uint32_t NextSequenceNumber();
    Error_t RunStep(std::uint8_t action, std::uint32_t sequence, void* data, unsigned long length,
                    unsigned long flags);

    std::unique_ptr<CScsiIoCtl> m_Inner;
    std::uint8_t m_Descriptor[kDescriptorBytes] = {};
    void* m_Data = nullptr;
    unsigned long m_DataLength = 0;
    unsigned long m_Flags = 0;
    long m_CmdTimeout = DEFAULT_TIMEOUT;
};
