#pragma once

#include "core/buffers/AlignedBuffer.h"
#include "core/transport/ErrorTable.h"
#include "core/types/CDevAddress.h"
#include "core/types/Device.h"
#include "core/types/Error.h"
#include "core/types/SenseData.h"
#include "platform/WinTypes.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>

class CEventBase;
struct CounterLock;
class CScsiDriver;
class CStopWatch;

// Per-slot transfer figures the device folds into its performance data;
// 64-bit, as drives have blocks past 32-bit addresses.
struct PerfData_t {
    std::uint64_t LastReadLba;
    std::uint64_t BlocksRead;
    float ReadSeconds;
    std::uint64_t LastWriteLba;
    std::uint64_t BlocksWritten;
    float WriteSeconds;
    std::uint64_t LastNoDataLba;
    float NoDataSeconds;
};

// One SCSI command slot of one device. Each transport derives one class and
// builds its own request structure in the request memory; the command sets
// only talk to this interface.
class CScsiIoCtl {
public:
    static constexpr long DEFAULT_TIMEOUT = 30;
    // Stands for an unlimited wait.
    static constexpr long NO_TIMEOUT = 108000;

    // CompleteCmd direction flags.
    static constexpr unsigned long kFlagDataIn = 0x08;
    static constexpr unsigned long kFlagDataOut = 0x10;

    // Command kinds recorded by CompleteCmd.
    static constexpr unsigned char kKindNoData = 1;
    static constexpr unsigned char kKindDataIn = 2;
    static constexpr unsigned char kKindDataOut = 3;

    static constexpr int kSenseBytes = 128;
    static constexpr int kMaxCdbLength = 16;
    static constexpr int kMinCdbLength = 6;

    // Trace level of every control block operation.
    static constexpr unsigned long kTraceLevel = 0x20000;

    // Process-wide; set before tests start. Defined in the library only, so a
    // client built with hidden visibility shares them instead of copying them.
    static std::atomic<long> CMD_TIMEOUT;
    static std::atomic<long> FMT_TIMEOUT;
    static std::atomic<bool> m_bIgnoreUnitAttn;
    static std::atomic<long> m_NumUnitAttnRetries;

    virtual ~CScsiIoCtl();

    // Issues the built request; 0 when the driver accepted it.
    virtual Error_t DoIO();
    // A new event describing the last command; the caller owns it.
    virtual CEventBase* GetErrorEvent();
    virtual Error_t GetDriverStatus() = 0;
    // The CDB inside the request; with clear, the request is zeroed and the
    // status re-armed first. Null without request memory or while the retry
    // flag is set (the request must not be rebuilt).
    virtual unsigned char* GetCdb(bool clear) = 0;
    virtual Error_t SetBuffer(void* data, long length) = 0;
    virtual Error_t CompleteCmd(unsigned char cdbLength, unsigned long dataLength, unsigned long flags, long timeout,
                                unsigned long lba, unsigned long blocks, unsigned char option) = 0;
    virtual Error_t IsCommandComplete() = 0;
    virtual SCSI_SenseData_s* GetSenseData() = 0;
    virtual unsigned char GetCdbLen() = 0;
    // Copies this request into an ASPI execute-command block.
    virtual void FillSRB(void* srb) = 0;
    virtual bool GetIOStatii(Error_t* srbStatus, Error_t* haStatus, Error_t* targetStatus) = 0;
    virtual Error_t SetQueueType(QTYPE_ENUM type);
    virtual QTYPE_ENUM GetQueueType();
    virtual Error_t ProcessError() = 0;

    Error_t GetDevAddress(CDevAddress& address) const;
    Error_t GetStatus() const { return m_Status; }
    void SetStatus(Error_t status) { m_Status = status; }
    Error_t FUDGE_STATUS(Error_t status);
    unsigned char GetBlockIndex() const { return m_BlockIndex; }

    Error_t SetRetryCmd();
    Error_t UnSetRetryCmd();
    bool IsRetryCmd() const { return m_bRetry; }
    unsigned long GetRetryCount() const { return m_RetryCount; }

    void StartTimer();
    void StopTimer();
    void GetPerfCounters(PerfData_t* out);
    void ClearPerfCounters();
    void TakePerfCounters(PerfData_t* out);

    bool IsUnitAttnError();
    bool IsDevErrorValid();
    void RefreshHandle();

    Error_t AllocateBuffer(long size);
    AlignedBuffer* GetBuffer() const { return m_pDataBuffer.get(); }
    void* GetCtlBlock() const { return m_pRequest ? m_pRequest->Ptr() : nullptr; }

    static long GetTimeout();
    static long GetFmtTimeout();
    static Error_t SetTimeout(long seconds);
    static Error_t SetFmtTimeout(long seconds);
    static bool SetNumUnitAttnRetries(long retries);
    static long GetNumUnitAttnRetries();
    static bool IgnoreUnitAttn();

protected:
    // The transport's constructor then makes the request memory, takes its
    // driver and asks it for the device handle.
    CScsiIoCtl(const CDevAddress& address, unsigned char blockIndex);
    // A copy shares the request memory, stopwatch, mutex and data buffer; a
    // transport's copy takes a driver reference of its own.
    CScsiIoCtl(const CScsiIoCtl& other) = default;
    CScsiIoCtl& operator=(const CScsiIoCtl& other) = default;

    // Holds the counter lock until ReleasePerfDataPtr.
    PerfData_t* GetPerfDataPtr();
    void ReleasePerfDataPtr();
    void UpdatePerformance();

    HANDLE GetDeviceHandle() const { return m_hDevice; }
    static bool search_table(const ERR_XTBL* table, int rows, int key, Error_t* out);
    // Fixed (70h, 71h) or descriptor (72h, 73h) sense data, current or deferred.
    static bool IsKnownSenseFormat(std::uint8_t responseCode);

    // Shared by the transports' CompleteCmd and GetCdb; inline, as every
    // command passes through them.
    void MakeRequestMemory(long size);
    unsigned char* RequestBytes() const { return static_cast<unsigned char*>(GetCtlBlock()); }
    void AttachDriver(CScsiDriver* driver);
    // ERR_NO_RESOURCE, ERR_INVALID_PARAM (retry flag) or ERR_BUFFER_TOO_SMALL; 0 when the request may be completed.
    Error_t CheckCompleteCmd(unsigned long dataLength) const
    {
        if (!m_pRequest) {
            return ERR_NO_RESOURCE;
        }
        if (m_bRetry) {
            return ERR_INVALID_PARAM;
        }
        const unsigned long available = m_BufferLength > 0 ? static_cast<unsigned long>(m_BufferLength) : 0;
        return dataLength > available ? ERR_BUFFER_TOO_SMALL : ERR_NONE;
    }
    static unsigned char ClampCdbLength(unsigned char length)
    {
        return static_cast<unsigned char>(std::clamp<int>(length, kMinCdbLength, kMaxCdbLength));
    }
    // Records the command kind; 0 when the flags name no direction, which
    // leaves the previous kind in place.
    unsigned char TakeCommandKind(unsigned long dataLength, unsigned long flags)
    {
        unsigned char kind = 0;
        if (dataLength == 0) {
            kind = kKindNoData;
        } else if ((flags & kFlagDataIn) != 0) {
            kind = kKindDataIn;
        } else if ((flags & kFlagDataOut) != 0) {
            kind = kKindDataOut;
        }
        if (kind != 0) {
            m_CmdKind = kind;
        }
        return kind;
    }
    void RecordCommand(long timeout, unsigned long lba, unsigned long blocks, unsigned char option)
    {
        m_Timeout = timeout;
        m_FirstBlock = lba;
        m_BlockCount = blocks;
        m_Option = option;
    }
    void ClearRequestState()
    {
        std::memset(m_pRequest->Ptr(), 0, m_pRequest->Size());
        m_bSenseValid = false;
        m_Status = ERR_CMD_NOT_STARTED;
    }

    CScsiDriver* Driver() const { return m_pDriver; }
    // GetDevAddress without the copy, for the per-command paths.
    const CDevAddress& Address() const { return m_Address; }
    long BufferLength() const { return m_BufferLength; }
    void SetBufferLength(long length) { m_BufferLength = length; }
    void SetSenseValid(bool valid) { m_bSenseValid = valid; }
    void SetQueueTypeValue(QTYPE_ENUM type) { m_QueueType = type; }
    void ResetRetryCount() { m_RetryCount = 0; }

private:
    // The CDB of the last request, whether or not it is armed for a retry.
    unsigned char* CdbForReport();

    std::shared_ptr<AlignedBuffer> m_pRequest;
    CDevAddress m_Address;
    HANDLE m_hDevice = nullptr;
    long m_BufferLength = 0;
    long m_Timeout = 0;
    unsigned char m_Option = 0;
    Error_t m_Status = ERR_NONE;
    unsigned char m_BlockIndex = 0;
    bool m_bRetry = false;
    PerfData_t m_Perf{};
    unsigned char m_CmdKind = 0;
    std::uint64_t m_FirstBlock = 0;
    std::uint64_t m_BlockCount = 0;
    std::shared_ptr<CounterLock> m_pCounterLock;
    std::shared_ptr<CStopWatch> m_pStopWatch;
    QTYPE_ENUM m_QueueType = QTYPE_UNTAGGED;
    std::uint32_t m_RetryCount = 0;
    bool m_bSenseValid = false;
    std::shared_ptr<AlignedBuffer> m_pDataBuffer;
    CScsiDriver* m_pDriver = nullptr;
};
