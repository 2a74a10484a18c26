#include "core/tests/DiskSeqTests.h"

#include "core/devices/CDisk.h"

void CDiskSeqReadThread::TestLogic(unsigned long index)
{
    Checked(m_pDisk->Read(index, m_CurrentBlock, m_BlocksPerXfer, m_pBuffer, 0, 0, 0));
    CompareIfOn();
    Advance(index, true);
}

CDiskSeqWriteThread::CDiskSeqWriteThread(unsigned long startBlock, unsigned long endBlock, long opCount,
                                         long blocksPerXfer, SCSIDevice* device, AlignedBuffer* buffer,
                                         int patternSlot, int cmdBlocks)
    : DiskSeqThreadBase(startBlock, endBlock, opCount, blocksPerXfer, device, buffer, patternSlot, cmdBlocks)
{
    FillFixedPattern();
}

void CDiskSeqWriteThread::TestLogic(unsigned long index)
{
    FillBlockNumbers();
    Checked(m_pDisk->Write(index, m_CurrentBlock, m_BlocksPerXfer, m_pBuffer, 0, 0, 0));
    Advance(index, true);
}

void CDiskSeqWriteVerifyThread::TestLogic(unsigned long index)
{
    FillBlockNumbers();
    Checked(m_pDisk->WriteVerify(index, m_CurrentBlock, m_BlocksPerXfer, m_pBuffer, 0, 0, 0));
    Advance(index, true);
}

void CDiskVerifyThread::TestLogic(unsigned long index)
{
    Checked(m_pDisk->Verify(index, m_CurrentBlock, m_BlocksPerXfer, m_pBuffer, 0, 0, 0));
    Advance(index, false);
}

CDiskSeqWriteReadThread::CDiskSeqWriteReadThread(unsigned long startBlock, unsigned long endBlock, long opCount,
                                                 long blocksPerXfer, SCSIDevice* device, AlignedBuffer* buffer,
                                                 int patternSlot, int cmdBlocks)
    : CDiskSeqWriteThread(startBlock, endBlock, opCount, blocksPerXfer, device, buffer, patternSlot, cmdBlocks),
      m_SavedBlocksPerXfer(static_cast<std::int32_t>(blocksPerXfer))
{
}

void CDiskSeqWriteReadThread::TestLogic(unsigned long index)
{
    if (m_bWriting) {
        FillBlockNumbers();
        Checked(m_pDisk->Write(index, m_CurrentBlock, m_BlocksPerXfer, m_pBuffer, 0, 0, 0));
        if (m_pDevice->IsRetryCmd(index)) {
            return;
        }
        CalcNextBlock();
        UpdateProgress();
        if (IsTestFinished()) {
            m_bWriting = false;
            m_CurrentBlock = m_StartBlock;
            m_BlocksPerXfer = m_SavedBlocksPerXfer;
        }
        return;
    }
    Checked(m_pDisk->Read(index, m_CurrentBlock, m_BlocksPerXfer, m_pBuffer, 0, 0, 0));
    CompareIfOn();
    if (m_pDevice->IsRetryCmd(index)) {
        return;
    }
    CalcNextBlock();
    UpdateProgress();
    if (IsTestFinished()) {
        m_bWriting = true;
        m_BlocksPerXfer = m_SavedBlocksPerXfer;
        Pause(END_PAUSE_MS);
        EndTest();
    }
}

void CDiskSeqWriteReadThread::UpdateProgress()
{
    const auto walked = static_cast<std::int64_t>(m_CurrentBlock - m_StartBlock);
    m_Progress = m_bWriting ? walked : static_cast<std::int64_t>(m_EndBlock - m_StartBlock) + walked;
}

void CDiskSeqWriteReadTest::GetProgressRange(long& low, long& high)
{
    low = 0;
    high = 2 * (static_cast<long>(m_EndBlock) - static_cast<long>(m_StartBlock));
}
