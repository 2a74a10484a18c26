#pragma once

#include "core/tests/CThreadBase.h"

#include <chrono>

class CDisk;

// A worker that picks random blocks of its range for a number of operations,
// for a length of time, or until it is ended.
class DiskRanThreadBase : public CThreadBase {
public:
    // Throws ERR_INVALID_PARAM when the device is not a disk.
    DiskRanThreadBase(unsigned long startBlock, unsigned long endBlock, long opCount, long blocksPerXfer,
                      long timeLimit, SCSIDevice* device, AlignedBuffer* buffer, int patternSlot, int cmdBlocks);

    // A range that is empty or shorter than one transfer runs nothing.
    bool InitInstance() override;
    virtual void CalcNextBlock();
    virtual bool IsTestFinished();
    virtual void UpdateProgress();

    bool IsIoBased() const { return m_OpCountLimit > 1; }
    bool IsTimeBased() const { return !IsIoBased() && m_TimeLimit > 0; }

protected:
    // Progress of a test that runs until it is ended.
    static constexpr std::int32_t kInfiniteProgress = 50;

    // After a command: unless it is to be retried, pick the next block, count
    // the operation and end when the mode says so.
    void Advance(unsigned long index);
    void RefreshElapsed();

    std::int32_t m_Elapsed = 0;
    std::int32_t m_TimeLimit;
    std::uint64_t m_Scale = 1;
    bool m_bScaleUp = false;
    CDisk* m_pDisk;

private:
    // Test time follows HARROW_TIME_SCALE like every other duration.
    std::chrono::steady_clock::time_point m_Began;
};
