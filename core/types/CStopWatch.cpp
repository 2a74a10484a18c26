#include "core/types/CStopWatch.h"

#include "platform/Kernel.h"

namespace {

LONGLONG CounterFrequency()
{
    LARGE_INTEGER frequency{};
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) {
        return 0;
    }
    return frequency.QuadPart;
}

}  // namespace

CStopWatch::CStopWatch() : CStopWatch(CounterFrequency()) {}

CStopWatch::CStopWatch(LONGLONG frequency)
    : m_Frequency(frequency), m_HighResolution(frequency > 0) {}

void CStopWatch::StopAt(ULONGLONG count)
{
    m_Stop = count;
    if (m_HighResolution) {
        // The full 64-bit difference: at 10 MHz the low 32 bits alone wrap
        // every seven minutes, far shorter than a full-disk test.
        m_ElapsedTicks = m_Stop - m_Start;
        m_Seconds = static_cast<float>(static_cast<double>(m_ElapsedTicks) /
                                       static_cast<double>(m_Frequency));
    } else {
        // The tick count is 32 bits and wraps after 49.7 days.
        m_ElapsedTicks = static_cast<DWORD>(static_cast<DWORD>(m_Stop) - static_cast<DWORD>(m_Start));
        m_Seconds = static_cast<float>(static_cast<double>(m_ElapsedTicks) / 1000.0);
    }
}

float CStopWatch::Seconds() const
{
    return m_Seconds;
}

unsigned long CStopWatch::MilliSeconds() const
{
    return static_cast<unsigned long>(m_Seconds * 1000.0f);
}

LARGE_INTEGER CStopWatch::MicroSeconds() const
{
    LARGE_INTEGER micro{};
    micro.QuadPart = static_cast<LONGLONG>(m_Seconds * 1'000'000.0f);
    return micro;
}
