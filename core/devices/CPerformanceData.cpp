#include "core/devices/CPerformanceData.h"

#include <mutex>

namespace {

// Serialises setting up a lock on first use.
std::mutex g_LockSetUp;

}  // namespace

CPerformanceData::CPerformanceData(const CPerformanceData& other)
{
    CopyFigures(other);
    if (other.m_bLockReady) {
        _InitCritSect();
    }
}

CPerformanceData& CPerformanceData::operator=(const CPerformanceData& other)
{
    if (this != &other) {
        CopyFigures(other);
    }
    return *this;
}

CPerformanceData::~CPerformanceData()
{
    _DeleteCritSect();
}

void CPerformanceData::CopyFigures(const CPerformanceData& other)
{
    m_Read = other.m_Read;
    m_Write = other.m_Write;
    m_SeekMinimum = other.m_SeekMinimum;
    m_SeekMaximum = other.m_SeekMaximum;
    m_SeekAverage = other.m_SeekAverage;
    m_SeekSeconds = other.m_SeekSeconds;
    m_SeekSum = other.m_SeekSum;
    m_BlocksPerXfr = other.m_BlocksPerXfr;
}

void CPerformanceData::_InitCritSect()
{
    if (!m_bLockReady) {
        InitializeCriticalSection(&m_Lock);
        m_bLockReady = true;
    }
}

void CPerformanceData::_DeleteCritSect()
{
    if (m_bLockReady) {
        m_bLockReady = false;
        DeleteCriticalSection(&m_Lock);
    }
}

void CPerformanceData::EnsureLock()
{
    if (!m_bLockReady) {
        std::lock_guard guard(g_LockSetUp);
        _InitCritSect();
    }
}

void CPerformanceData::Lock()
{
    EnsureLock();
    EnterCriticalSection(&m_Lock);
}

void CPerformanceData::Unlock()
{
    LeaveCriticalSection(&m_Lock);
}

void CPerformanceData::AddSample(Transfer& transfer, long blocks, long kilobytes, float seconds, unsigned long block)
{
    transfer.TotalBlocks += blocks;
    transfer.Block = block;
    transfer.Kilobytes += kilobytes;
    transfer.Seconds += seconds;
    const float rate = static_cast<float>(kilobytes) / seconds;
    transfer.Present = true;
    transfer.Average = static_cast<float>(static_cast<double>(transfer.Kilobytes) / transfer.Seconds);
    transfer.Last = rate;
    if (rate < transfer.Minimum || transfer.Minimum == 0) {
        transfer.Minimum = rate;
        transfer.MinimumBlock = transfer.Block;
    }
    if (rate > transfer.Maximum) {
        transfer.Maximum = rate;
        transfer.MaximumBlock = transfer.Block;
    }
}

void CPerformanceData::AddReadData(long blocks, long kilobytes, float seconds, unsigned long block)
{
    if (!(seconds > 0)) {
        return;  // no rate without time
    }
    Lock();
    AddSample(m_Read, blocks, kilobytes, seconds, block);
    Unlock();
}

void CPerformanceData::AddWriteData(long blocks, long kilobytes, float seconds, unsigned long block)
{
    if (!(seconds > 0)) {
        return;  // no rate without time
    }
    Lock();
    AddSample(m_Write, blocks, kilobytes, seconds, block);
    Unlock();
}

void CPerformanceData::AddSeekData(long value, float seconds)
{
    if (!(seconds > 0)) {
        return;  // no rate without time
    }
    Lock();
    m_SeekSum += value;
    m_SeekSeconds += seconds;
    const float rate = static_cast<float>(value) / seconds;
    m_SeekAverage = static_cast<float>(static_cast<double>(m_SeekSum) / m_SeekSeconds);
    if (rate < m_SeekMinimum || m_SeekMinimum == 0) {
        m_SeekMinimum = rate;
    }
    if (rate > m_SeekMaximum) {
        m_SeekMaximum = rate;
    }
    Unlock();
}

void CPerformanceData::Clear(Transfer& transfer)
{
    // The alarm settings survive clearing.
    const PerfAlarm_t kind = transfer.AlarmKind;
    const float threshold = transfer.Threshold;
    transfer = Transfer{};
    transfer.AlarmKind = kind;
    transfer.Threshold = threshold;
}

void CPerformanceData::ClearReadData()
{
    Lock();
    Clear(m_Read);
    Unlock();
}

void CPerformanceData::ClearWriteData()
{
    Lock();
    Clear(m_Write);
    Unlock();
}

void CPerformanceData::ClearSeekData()
{
    Lock();
    m_SeekMinimum = 0;
    m_SeekMaximum = 0;
    m_SeekAverage = 0;
    m_SeekSum = 0;
    m_SeekSeconds = 0;
    Unlock();
}

void CPerformanceData::ClearAllData()
{
    ClearReadData();
    ClearSeekData();
    ClearWriteData();
}

void CPerformanceData::SetAlarms(const PerfAlarm_struct& alarms)
{
    SetReadAlarm(alarms.ReadThreshold, alarms.ReadKind);
    SetWriteAlarm(alarms.WriteThreshold, alarms.WriteKind);
}

void CPerformanceData::SetReadAlarm(float threshold, PerfAlarm_t kind)
{
    m_Read.Threshold = threshold;
    m_Read.AlarmKind = kind;
}

void CPerformanceData::SetWriteAlarm(float threshold, PerfAlarm_t kind)
{
    m_Write.Threshold = threshold;
    m_Write.AlarmKind = kind;
}

bool CPerformanceData::Tripped(const Transfer& transfer)
{
    if (!transfer.Present) {
        return false;
    }
    switch (transfer.AlarmKind) {
    case PerfAlarmAverage:
        return transfer.Average < transfer.Threshold;
    case PerfAlarmMinimum:
        return transfer.Minimum < transfer.Threshold;
    case PerfAlarmMaximum:
        return transfer.Maximum < transfer.Threshold;
    default:
        return false;
    }
}

bool CPerformanceData::ReadAlarmTripped() const
{
    return TrippedLocked(m_Read);
}

bool CPerformanceData::WriteAlarmTripped() const
{
    return TrippedLocked(m_Write);
}

bool CPerformanceData::TrippedLocked(const Transfer& transfer) const
{
    // The test's monitor asks while the workers add samples under the lock.
    auto* self = const_cast<CPerformanceData*>(this);
    self->Lock();
    const bool tripped = Tripped(transfer);
    self->Unlock();
    return tripped;
}
