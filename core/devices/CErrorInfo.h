#pragma once

#include "platform/Kernel.h"

#include <atomic>
#include <cstdint>

// A negative limit switches that alarm off.
struct ErrorAlarm_struct {
    std::int32_t SoftLimit;
    std::int32_t HardLimit;
};
static_assert(sizeof(ErrorAlarm_struct) == 8);

// Soft and hard error counts of one device over its whole life, with alarm
// limits. Counts change under the lock; readers go without it.
class CErrorInfo {
public:
    CErrorInfo() = default;
    CErrorInfo(const CErrorInfo&) = delete;
    CErrorInfo& operator=(const CErrorInfo&) = delete;
    ~CErrorInfo();

    void _InitCritSect();
    void _DeleteCritSect();

    void IncSoftErrors();
    void IncHardErrors();
    void SetSoftErrorAlarm(long limit) { m_SoftLimit = static_cast<std::int32_t>(limit); }
    void SetHardErrorAlarm(long limit) { m_HardLimit = static_cast<std::int32_t>(limit); }
    void SetAlarms(const ErrorAlarm_struct& alarms);
    bool SoftErrorAlarmTripped() const;
    bool HardErrorAlarmTripped() const;

    long GetTotalErrors() const { return m_TotalErrors; }
    long GetHardErrors() const { return m_HardErrors; }
    long GetSoftErrors() const { return m_SoftErrors; }
    long GetSoftErrorAlarm() const { return m_SoftLimit; }
    long GetHardErrorAlarm() const { return m_HardLimit; }

private:
    void Count(std::atomic<std::int32_t>& kind);

    std::atomic<std::int32_t> m_TotalErrors{0};
    std::atomic<std::int32_t> m_HardErrors{0};
    std::atomic<std::int32_t> m_SoftErrors{0};
    std::atomic<std::int32_t> m_SoftLimit{-1};
    std::atomic<std::int32_t> m_HardLimit{-1};
    std::atomic<bool> m_bLockReady{false};
    CRITICAL_SECTION m_Lock{};
};
