#include "core/tests/DiskRanThreadBase.h"

#include "core/devices/CDisk.h"
#include "core/tests/TestRandom.h"

#include <cmath>
#include <utility>

namespace {

CDisk* RequireDisk(SCSIDevice* device)
{
    auto* disk = dynamic_cast<CDisk*>(device);
    if (disk == nullptr) {
        throw ERR_INVALID_PARAM;
    }
    return disk;
}

}  // namespace

DiskRanThreadBase::DiskRanThreadBase(unsigned long startBlock, unsigned long endBlock, long opCount,
                                     long blocksPerXfer, long timeLimit, SCSIDevice* device, AlignedBuffer* buffer,
                                     int patternSlot, int cmdBlocks)
    : CThreadBase(startBlock, endBlock, opCount, blocksPerXfer, device, buffer, patternSlot, cmdBlocks),
      m_TimeLimit(static_cast<std::int32_t>(timeLimit)),
      m_pDisk(RequireDisk(device))
{
}

bool DiskRanThreadBase::InitInstance()
{
    if (m_EndBlock == m_StartBlock) {
        return false;
    }
    if (m_EndBlock < m_StartBlock) {
        std::swap(m_EndBlock, m_StartBlock);
    }
    const std::uint64_t span = m_EndBlock - m_StartBlock;
    if (m_BlocksPerXfer < 0 || span < static_cast<std::uint64_t>(m_BlocksPerXfer)) {
        return false;
    }
    if (span > TestRandom::kRandMaximum) {
        m_Scale = span / TestRandom::kRandMaximum;
        m_bScaleUp = true;
    } else {
        m_Scale = TestRandom::kRandMaximum / span;
        m_bScaleUp = false;
    }
    m_Began = std::chrono::steady_clock::now();
    RunTest();
    return false;
}

void DiskRanThreadBase::CalcNextBlock()
{
    const std::uint64_t highest = m_EndBlock - static_cast<std::uint64_t>(m_BlocksPerXfer);
    std::uint64_t block = 0;
    do {
        const auto r = static_cast<std::uint64_t>(NextRandom());
        const std::uint64_t offset = m_bScaleUp ? r * m_Scale : r / m_Scale;
        block = m_StartBlock + offset;
    } while (block > highest);
    m_CurrentBlock = block;
}

bool DiskRanThreadBase::IsTestFinished()
{
    if (IsIoBased()) {
        return m_OpCounter >= m_OpCountLimit;
    }
    return IsTimeBased() && m_Elapsed >= m_TimeLimit;
}

void DiskRanThreadBase::RefreshElapsed()
{
    RefreshTime();
    const std::chrono::duration<double> real = std::chrono::steady_clock::now() - m_Began;
    m_Elapsed = static_cast<std::int32_t>(std::floor(real.count() / harrow::platform::TimeScale()));
}

void DiskRanThreadBase::UpdateProgress()
{
    RefreshElapsed();
    if (IsIoBased()) {
        m_Progress = m_OpCounter;
    } else {
        m_Progress = IsTimeBased() ? m_Elapsed : kInfiniteProgress;
    }
}

void DiskRanThreadBase::Advance(unsigned long index)
{
    if (m_pDevice->IsRetryCmd(index)) {
        return;
    }
    CalcNextBlock();
    ++m_OpCounter;
    UpdateProgress();
    if (IsTestFinished()) {
        Pause(kEndPauseMs);
        EndTest();
    }
}
