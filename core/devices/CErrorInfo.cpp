#include "core/devices/CErrorInfo.h"

#include <mutex>

namespace {

std::mutex g_LockSetUp;

}  // namespace

CErrorInfo::~CErrorInfo()
{
    _DeleteCritSect();
}

void CErrorInfo::_InitCritSect()
{
    std::lock_guard guard(g_LockSetUp);
    if (!m_bLockReady) {
        InitializeCriticalSection(&m_Lock);
        m_bLockReady = true;
    }
}

void CErrorInfo::_DeleteCritSect()
{
    if (m_bLockReady) {
        m_bLockReady = false;
        DeleteCriticalSection(&m_Lock);
    }
}

void CErrorInfo::Count(std::atomic<std::int32_t>& kind)
{
    // A count before the owner set the lock up must not be lost.
    if (!m_bLockReady) {
        _InitCritSect();
    }
    EnterCriticalSection(&m_Lock);
    ++kind;
    ++m_TotalErrors;
    LeaveCriticalSection(&m_Lock);
}

void CErrorInfo::IncSoftErrors()
{
    Count(m_SoftErrors);
}

void CErrorInfo::IncHardErrors()
{
    Count(m_HardErrors);
}

void CErrorInfo::SetAlarms(const ErrorAlarm_struct& alarms)
{
    m_SoftLimit = alarms.SoftLimit;
    m_HardLimit = alarms.HardLimit;
}

bool CErrorInfo::SoftErrorAlarmTripped() const
{
    return m_SoftLimit >= 0 && m_SoftErrors >= m_SoftLimit;
}

bool CErrorInfo::HardErrorAlarmTripped() const
{
    return m_HardLimit >= 0 && m_HardErrors >= m_HardLimit;
}
