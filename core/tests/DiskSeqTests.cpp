#include "core/tests/DiskSeqTests.h"

#include "core/devices/CDisk.h"

#include <algorithm>

void CDiskSeqReadThread::TestLogic(unsigned long index)
{
    PrepareRead(index);
    Checked(m_pDisk->Read(index, m_CurrentBlock, m_BlocksPerXfer, BufferOf(index), 0, 0, 0));
    Advance(index, true);
}

void CDiskSeqWriteThread::TestLogic(unsigned long index)
{
    PrepareWrite(index);
    Checked(m_pDisk->Write(index, m_CurrentBlock, m_BlocksPerXfer, BufferOf(index), 0, 0, 0));
    Advance(index, true);
}

void CDiskSeqWriteVerifyThread::TestLogic(unsigned long index)
{
    PrepareWrite(index);
    Checked(m_pDisk->WriteVerify(index, m_CurrentBlock, m_BlocksPerXfer, BufferOf(index), 0, 0, 0));
    Advance(index, true);
}

void CDiskVerifyThread::TestLogic(unsigned long index)
{
    Checked(m_pDisk->Verify(index, m_CurrentBlock, m_BlocksPerXfer, BufferOf(index), 0, 0, 0));
    Advance(index, false);
}

void CDiskSeqWriteReadThread::TestLogic(unsigned long index)
{
    if (m_bWriting) {
        PrepareWrite(index);
        Checked(m_pDisk->Write(index, m_CurrentBlock, m_BlocksPerXfer, BufferOf(index), 0, 0, 0));
        if (m_pDevice->IsRetryCmd(index)) {
            return;
        }
        CalcNextBlock();
        UpdateProgress();
        if (IsTestFinished()) {
            // Every write has landed before its blocks are read back.
            SettleCommands();
            m_bWriting = false;
            m_CurrentBlock = m_StartBlock;
            m_BlocksPerXfer = FirstTransferBlocks();
        }
        return;
    }
    PrepareRead(index);
    Checked(m_pDisk->Read(index, m_CurrentBlock, m_BlocksPerXfer, BufferOf(index), 0, 0, 0));
    if (m_pDevice->IsRetryCmd(index)) {
        return;
    }
    CalcNextBlock();
    UpdateProgress();
    if (IsTestFinished()) {
        m_bWriting = true;
        m_BlocksPerXfer = FirstTransferBlocks();
        Pause(kEndPauseMs);
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
    // Progress is one thread's walk over its own share of the range, twice.
    low = 0;
    const long span = m_EndBlock > m_StartBlock ? static_cast<long>(m_EndBlock - m_StartBlock) : 0;
    high = 2 * (span / std::max<long>(m_ThreadsPerDevice, 1));
}
