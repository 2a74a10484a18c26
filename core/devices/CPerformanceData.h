#pragma once

#include "platform/Kernel.h"

#include <atomic>
#include <cstdint>

// How a rate alarm judges; any other value never trips.
enum PerfAlarm_t : std::int32_t {
    PerfAlarmOff = -1,
    PerfAlarmAverage = 0,
    PerfAlarmMinimum = 1,
    PerfAlarmMaximum = 2,
};

struct PerfAlarm_struct {
    PerfAlarm_t ReadKind;
    float ReadThreshold;  // KB per second
    PerfAlarm_t WriteKind;
    float WriteThreshold;
};
static_assert(sizeof(PerfAlarm_struct) == 16);

// Transfer and seek timings of one device or adapter, with the rates derived
// from them. Several test threads add samples at once; the monitor reads the
// figures and the alarms without the lock.
class CPerformanceData {
public:
    CPerformanceData() = default;
    // The copy gets a lock of its own, ready when the source's was.
    CPerformanceData(const CPerformanceData& other);
    CPerformanceData& operator=(const CPerformanceData& other);
    virtual ~CPerformanceData();

    void _InitCritSect();
    void _DeleteCritSect();
    bool IsLockReady() const { return m_bLockReady; }

    void AddReadData(long blocks, long kilobytes, float seconds, unsigned long block);
    void AddWriteData(long blocks, long kilobytes, float seconds, unsigned long block);
    void AddSeekData(long value, float seconds);

    void ClearReadData();
    void ClearWriteData();
    void ClearSeekData();
    void ClearAllData();

    void SetAlarms(const PerfAlarm_struct& alarms);
    void SetReadAlarm(float threshold, PerfAlarm_t kind);
    void SetWriteAlarm(float threshold, PerfAlarm_t kind);
    bool ReadAlarmTripped() const;
    bool WriteAlarmTripped() const;

    void SetBlocksPerXfr(long blocks) { m_BlocksPerXfr = static_cast<std::int32_t>(blocks); }
    long GetBlocksPerXfr() const { return m_BlocksPerXfr; }

    float GetLastReadRate() const { return m_Read.Last; }
    float GetAvgReadRate() const { return m_Read.Average; }
    float GetMinReadRate() const { return m_Read.Minimum; }
    float GetMaxReadRate() const { return m_Read.Maximum; }
    unsigned long GetReadBlock() const { return m_Read.Block; }
    unsigned long GetMinReadBlock() const { return m_Read.MinimumBlock; }
    unsigned long GetMaxReadBlock() const { return m_Read.MaximumBlock; }
    long GetTotalReadBlocks() const { return m_Read.TotalBlocks; }
    float GetReadSeconds() const { return static_cast<float>(m_Read.Seconds); }

    float GetLastWriteRate() const { return m_Write.Last; }
    float GetAvgWriteRate() const { return m_Write.Average; }
    float GetMinWriteRate() const { return m_Write.Minimum; }
    float GetMaxWriteRate() const { return m_Write.Maximum; }
    unsigned long GetWriteBlock() const { return m_Write.Block; }
    unsigned long GetMinWriteBlock() const { return m_Write.MinimumBlock; }
    unsigned long GetMaxWriteBlock() const { return m_Write.MaximumBlock; }
    long GetTotalWriteBlocks() const { return m_Write.TotalBlocks; }
    float GetWriteSeconds() const { return static_cast<float>(m_Write.Seconds); }

    float GetAvgSeekRate() const { return m_SeekAverage; }
    float GetMinSeekRate() const { return m_SeekMinimum; }
    float GetMaxSeekRate() const { return m_SeekMaximum; }

private:
    // Reads and writes keep the same figures.
    struct Transfer {
        float Last = 0;
        float Minimum = 0;
        float Maximum = 0;
        float Average = 0;
        // Sums are 64-bit: a whole 2 TiB drive passes 32 bits in kilobytes and blocks.
        std::uint64_t Block = 0;
        std::uint64_t MinimumBlock = 0;
        std::uint64_t MaximumBlock = 0;
        std::int64_t TotalBlocks = 0;
        bool Present = false;
        PerfAlarm_t AlarmKind = PerfAlarmOff;
        float Threshold = -1.0f;
        double Seconds = 0;
        std::int64_t Kilobytes = 0;
    };

    static void AddSample(Transfer& transfer, long blocks, long kilobytes, float seconds, unsigned long block);
    static void Clear(Transfer& transfer);
    static bool Tripped(const Transfer& transfer);
    bool TrippedLocked(const Transfer& transfer) const;
    void CopyFigures(const CPerformanceData& other);
    // Samples and clearing may come before the owner set the lock up.
    void EnsureLock();
    void Lock();
    void Unlock();

    Transfer m_Read;
    Transfer m_Write;
    float m_SeekMinimum = 0;
    float m_SeekMaximum = 0;
    float m_SeekAverage = 0;
    double m_SeekSeconds = 0;
    std::int64_t m_SeekSum = 0;
    std::int32_t m_BlocksPerXfr = 0;
    std::atomic<bool> m_bLockReady{false};
    CRITICAL_SECTION m_Lock{};
};
