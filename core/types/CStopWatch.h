#pragma once

#include "platform/Kernel.h"
#include "platform/WinTypes.h"

// Elapsed time over the high-resolution counter, or over the millisecond
// tick count where no such counter exists.
class CStopWatch {
public:
    CStopWatch();

    // Inline: every command starts and stops one.
    void Start() { StartAt(ReadCount()); }
    void Stop() { StopAt(ReadCount()); }

    // Of the last Stop.
    float Seconds() const;
    unsigned long MilliSeconds() const;
    LARGE_INTEGER MicroSeconds() const;

protected:
    // frequency 0: no high-resolution counter, counts are milliseconds.
    explicit CStopWatch(LONGLONG frequency);
    void StartAt(ULONGLONG count)
    {
        m_Stop = 0;
        m_Start = count;
    }
    void StopAt(ULONGLONG count);

private:
    ULONGLONG ReadCount() const
    {
        if (m_HighResolution) {
            LARGE_INTEGER count{};
            QueryPerformanceCounter(&count);
            return static_cast<ULONGLONG>(count.QuadPart);
        }
        return GetTickCount();
    }

    ULONGLONG m_Start = 0;
    ULONGLONG m_Stop = 0;
    LONGLONG m_Frequency = 0;
    ULONGLONG m_ElapsedTicks = 0;
    float m_Seconds = 0.0f;
    bool m_HighResolution = false;
};
