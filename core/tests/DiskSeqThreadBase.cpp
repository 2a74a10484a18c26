#include "core/tests/DiskSeqThreadBase.h"

#include "core/devices/CDisk.h"

#include <algorithm>

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

DiskSeqThreadBase::DiskSeqThreadBase(unsigned long startBlock, unsigned long endBlock, long opCount,
                                     long blocksPerXfer, SCSIDevice* device, AlignedBuffer* buffer, int patternSlot,
                                     int cmdBlocks)
    : CThreadBase(startBlock, endBlock, opCount, blocksPerXfer, device, buffer, patternSlot, cmdBlocks),
      m_pDisk(RequireDisk(device)),
      m_SavedBlocksPerXfer(static_cast<std::int32_t>(blocksPerXfer))
{
}

bool DiskSeqThreadBase::InitInstance()
{
    if (m_EndBlock <= m_StartBlock || m_SavedBlocksPerXfer <= 0) {
        return false;
    }
    m_BlocksPerXfer = FirstTransferBlocks();
    RunTest();
    return false;
}

std::int32_t DiskSeqThreadBase::FirstTransferBlocks() const
{
    const std::uint32_t span = m_EndBlock > m_StartBlock ? m_EndBlock - m_StartBlock : 0;
    return static_cast<std::int32_t>(std::min<std::uint32_t>(static_cast<std::uint32_t>(m_SavedBlocksPerXfer), span));
}

void DiskSeqThreadBase::CalcNextBlock()
{
    m_CurrentBlock += static_cast<std::uint64_t>(m_BlocksPerXfer);
    if (static_cast<unsigned long long>(m_EndBlock) < static_cast<unsigned long long>(m_CurrentBlock) +
                                                          static_cast<unsigned long long>(m_BlocksPerXfer)) {
        m_BlocksPerXfer = static_cast<std::int32_t>(m_EndBlock - m_CurrentBlock);
    }
}

bool DiskSeqThreadBase::IsTestFinished()
{
    return m_CurrentBlock >= m_EndBlock;
}

void DiskSeqThreadBase::UpdateProgress()
{
    m_Progress = static_cast<std::int64_t>(m_CurrentBlock);
}

void DiskSeqThreadBase::Advance(unsigned long index, bool pauseAtEnd)
{
    if (m_pDevice->IsRetryCmd(index)) {
        return;
    }
    CalcNextBlock();
    UpdateProgress();
    if (IsTestFinished()) {
        if (pauseAtEnd) {
            Pause(kEndPauseMs);
        }
        EndTest();
    }
}
