#include "core/transport/CScsiIoCtl.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/log/GTrace.h"
#include "core/transport/CScsiDriver.h"
#include "core/types/CEventError.h"
#include "core/types/CStopWatch.h"
#include "platform/SpinLock.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

// Guards the performance counters, only ever held for a few stores or a
// 32-byte copy. A reader always waits for it: reading on after a timed wait
// raced the writer and, with the clear that follows, lost or doubled counts.
struct CounterLock {
    harrow::platform::SpinLock lock;
};

CScsiIoCtl::CScsiIoCtl(const CDevAddress& address, unsigned char blockIndex)
    : m_Address(address),
      m_BlockIndex(blockIndex),
      m_pCounterLock(std::make_shared<CounterLock>()),
      m_pStopWatch(std::make_shared<CStopWatch>()),
      m_QueueType(blockIndex == 0 ? QTYPE_UNTAGGED : QTYPE_SIMPLE)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl:Construction, Allocating device resources");
}

CScsiIoCtl::~CScsiIoCtl()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl:Destruction, Deallocating device resources");
}

Error_t CScsiIoCtl::DoIO()
{
    void* request = GetCtlBlock();
    if (request == nullptr || m_pDriver == nullptr) {
        return ERR_NO_RESOURCE;
    }
    if (m_bRetry) {
        ++m_RetryCount;
    }
    StartTimer();
    return m_pDriver->Send(m_hDevice, request);
}

CEventBase* CScsiIoCtl::GetErrorEvent()
{
    Error_t srbStatus = ERR_NONE;
    Error_t haStatus = ERR_NONE;
    Error_t targetStatus = ERR_NONE;
    GetIOStatii(&srbStatus, &haStatus, &targetStatus);
    return new CEventError(m_Address, GetCdbLen(), CdbForReport(), GetSenseData(), targetStatus, haStatus, srbStatus,
                           GetDriverStatus());
}

unsigned char* CScsiIoCtl::CdbForReport()
{
    // A command armed for a retry still has its CDB; the report must show it.
    const bool retry = m_bRetry;
    m_bRetry = false;
    unsigned char* cdb = GetCdb(false);
    m_bRetry = retry;
    return cdb;
}

Error_t CScsiIoCtl::SetQueueType(QTYPE_ENUM)
{
    return ERR_NOT_SUPPORTED;
}

QTYPE_ENUM CScsiIoCtl::GetQueueType()
{
    return m_QueueType;
}

Error_t CScsiIoCtl::GetDevAddress(CDevAddress& address) const
{
    address = m_Address;
    return ERR_NONE;
}

Error_t CScsiIoCtl::FUDGE_STATUS(Error_t status)
{
    if (!m_pRequest) {
        return ERR_NO_RESOURCE;
    }
    m_Status = status;
    return status;
}

Error_t CScsiIoCtl::SetRetryCmd()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: SetRetryCmd");
    if (!m_pRequest) {
        return ERR_NO_RESOURCE;
    }
    m_bRetry = true;
    m_Status = ERR_CMD_NOT_STARTED;
    return ERR_NONE;
}

Error_t CScsiIoCtl::UnSetRetryCmd()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: UnSetRetryCmd");
    if (!m_pRequest) {
        return ERR_NO_RESOURCE;
    }
    m_bRetry = false;
    return ERR_NONE;
}

void CScsiIoCtl::StartTimer()
{
    m_pStopWatch->Start();
}

void CScsiIoCtl::StopTimer()
{
    m_pStopWatch->Stop();
}

void CScsiIoCtl::GetPerfCounters(PerfData_t* out)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: GetPerfCounters");
    if (out == nullptr) {
        return;
    }
    *out = *GetPerfDataPtr();
    ReleasePerfDataPtr();
}

void CScsiIoCtl::ClearPerfCounters()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: ClearPerfCounters");
    *GetPerfDataPtr() = PerfData_t{};
    ReleasePerfDataPtr();
}

// Copies and zeroes under one hold, so a command completing in between is
// neither lost nor, when two threads of a device sweep its blocks, counted twice.
void CScsiIoCtl::TakePerfCounters(PerfData_t* out)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: GetPerfCounters");
    PerfData_t* perf = GetPerfDataPtr();
    *out = *perf;
    *perf = PerfData_t{};
    ReleasePerfDataPtr();
}

PerfData_t* CScsiIoCtl::GetPerfDataPtr()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: GetPerfDataPtr (mutex)");
    m_pCounterLock->lock.lock();
    return &m_Perf;
}

void CScsiIoCtl::ReleasePerfDataPtr()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: ReleasePerfDataPtr (mutex)");
    m_pCounterLock->lock.unlock();
}

// The stores take the lock directly: they need no trace lines of their own.
void CScsiIoCtl::UpdatePerformance()
{
    const float seconds = m_pStopWatch->Seconds();
    const std::lock_guard hold(m_pCounterLock->lock);
    PerfData_t* perf = &m_Perf;
    if (m_Status == ERR_CMD_COMPLETE || m_Status == ERR_CHECK_CONDITION) {
        const bool good = m_Status == ERR_CMD_COMPLETE;
        switch (m_CmdKind) {
        case kKindNoData:
            perf->LastNoDataLba = m_FirstBlock;
            if (good) {
                perf->NoDataSeconds += seconds;
            }
            break;
        case kKindDataIn:
            perf->LastReadLba = m_FirstBlock;
            if (good) {
                perf->ReadSeconds += seconds;
                perf->BlocksRead += m_BlockCount;
            }
            break;
        case kKindDataOut:
            perf->LastWriteLba = m_FirstBlock;
            if (good) {
                perf->WriteSeconds += seconds;
                perf->BlocksWritten += m_BlockCount;
            }
            break;
        default:
            break;
        }
    }
}

bool CScsiIoCtl::IsUnitAttnError()
{
    const SCSI_SenseData_s* sense = GetSenseData();
    return sense != nullptr && sense->SenseKey() == 6;
}

bool CScsiIoCtl::IsDevErrorValid()
{
    if (m_bSenseValid) {
        return true;
    }
    const SCSI_SenseData_s* sense = GetSenseData();
    if (sense != nullptr && IsKnownSenseFormat(sense->ResponseCode)) {
        m_bSenseValid = true;
    }
    return m_bSenseValid;
}

void CScsiIoCtl::RefreshHandle()
{
    if (m_pDriver != nullptr) {
        m_hDevice = m_pDriver->GetDeviceHandle(m_Address);
    }
}

Error_t CScsiIoCtl::AllocateBuffer(long size)
{
    m_pDataBuffer.reset();
    try {
        m_pDataBuffer = std::make_shared<AlignedBuffer>(size);
    } catch (Error_t error) {
        return error;
    } catch (const std::bad_alloc&) {
        return ERR_NO_MEMORY;
    }
    return ERR_NONE;
}

std::atomic<long> CScsiIoCtl::CMD_TIMEOUT{DEFAULT_TIMEOUT};
std::atomic<long> CScsiIoCtl::FMT_TIMEOUT{NO_TIMEOUT};
std::atomic<bool> CScsiIoCtl::m_bIgnoreUnitAttn{false};
std::atomic<long> CScsiIoCtl::m_NumUnitAttnRetries{0};

long CScsiIoCtl::GetTimeout()
{
    return CMD_TIMEOUT;
}

long CScsiIoCtl::GetFmtTimeout()
{
    return FMT_TIMEOUT;
}

long CScsiIoCtl::GetNumUnitAttnRetries()
{
    return m_NumUnitAttnRetries;
}

bool CScsiIoCtl::IgnoreUnitAttn()
{
    return m_bIgnoreUnitAttn;
}

Error_t CScsiIoCtl::SetTimeout(long seconds)
{
    if (seconds < 0) {
        return ERR_INVALID_PARAM;
    }
    CMD_TIMEOUT = seconds;
    return ERR_NONE;
}

Error_t CScsiIoCtl::SetFmtTimeout(long seconds)
{
    FMT_TIMEOUT = seconds < 0 ? NO_TIMEOUT : seconds;
    return ERR_NONE;
}

bool CScsiIoCtl::SetNumUnitAttnRetries(long retries)
{
    if (retries < 0) {
        return false;
    }
    m_NumUnitAttnRetries = retries;
    m_bIgnoreUnitAttn = retries != 0;
    return true;
}

bool CScsiIoCtl::IsKnownSenseFormat(std::uint8_t responseCode)
{
    // Bit 7 is VALID in fixed format and reserved in descriptor format (SPC-4 4.5.1).
    return SenseView(&responseCode, 1).Known();
}

bool CScsiIoCtl::search_table(const ERR_XTBL* table, int rows, int key, Error_t* out)
{
    for (int row = 0; row < rows; ++row) {
        if (table[row].key == key) {
            *out = table[row].result;
            return true;
        }
    }
    return false;
}

void CScsiIoCtl::MakeRequestMemory(long size)
{
    try {
        m_pRequest = std::make_shared<AlignedBuffer>(size);
        std::memset(m_pRequest->Ptr(), 0, m_pRequest->Size());
    } catch (Error_t) {
        m_pRequest.reset();  // every operation then answers ERR_NO_RESOURCE
    } catch (const std::bad_alloc&) {
        m_pRequest.reset();
    }
}

void CScsiIoCtl::AttachDriver(CScsiDriver* driver)
{
    m_pDriver = driver;
    RefreshHandle();
    if (m_hDevice == nullptr) {
        m_Status = ERR_NO_DEVICE;
    }
}

