#include "core/tests/DiskRanTests.h"

#include "core/devices/CDisk.h"
#include "core/log/GTrace.h"

namespace {

constexpr unsigned long kTraceLevel = 0x8000;

}  // namespace

void CDiskRanReadThread::TestLogic(unsigned long index)
{
    PrepareRead(index);
    Checked(m_pDisk->Read(index, m_CurrentBlock, m_BlocksPerXfer, BufferOf(index), 0, 0, 0));
    Advance(index);
}

void CDiskRanWriteThread::TestLogic(unsigned long index)
{
    PrepareWrite(index);
    Checked(m_pDisk->Write(index, m_CurrentBlock, m_BlocksPerXfer, BufferOf(index), 0, 0, 0));
    Advance(index);
}

void CDiskRanWriteVerifyThread::TestLogic(unsigned long index)
{
    PrepareWrite(index);
    Checked(m_pDisk->WriteVerify(index, m_CurrentBlock, m_BlocksPerXfer, BufferOf(index), 0, 0, 0));
    Advance(index);
}

void CDiskRanWriteReadThread::TestLogic(unsigned long index)
{
    if (!IsIoBased() && !IsTimeBased()) {
        InfiniteLogic(index);
        return;
    }
    GTrace trace(kTraceLevel, "%s",
                 IsIoBased() ? "Disk Ran Write Read Thread  IO-based Test Logic"
                             : "Disk Ran Write Read Thread  Time-based Test Logic");
    const bool writing = m_bWriting;
    if (!Transfer(index)) {
        return;
    }
    if (writing) {
        ++m_Writes;
        const bool halfDone = IsIoBased() ? m_OpCounter >= m_OpCountLimit / 2 : m_Elapsed >= m_TimeLimit / 2;
        if (halfDone) {
            SwitchToReading();
        }
    } else if (IsTestFinished() || ++m_Reads >= m_Writes) {
        // Never more reads than writes: a block the pass did not write holds no pattern.
        Pause(END_PAUSE_MS);
        EndTest();
    }
}

bool CDiskRanWriteReadThread::Transfer(unsigned long index)
{
    if (m_bWriting) {
        PrepareWrite(index);
        Checked(m_pDisk->Write(index, m_CurrentBlock, m_BlocksPerXfer, BufferOf(index), 0, 0, 0));
    } else {
        PrepareRead(index);
        Checked(m_pDisk->Read(index, m_CurrentBlock, m_BlocksPerXfer, BufferOf(index), 0, 0, 0));
    }
    if (m_pDevice->IsRetryCmd(index)) {
        return false;
    }
    CalcNextBlock();
    ++m_OpCounter;
    UpdateProgress();
    return true;
}

void CDiskRanWriteReadThread::SwitchToReading()
{
    // Every write has landed before its blocks are read back.
    SettleCommands();
    // The same seed again: the read pass visits the written blocks in the same order.
    m_CurrentBlock = m_StartBlock;
    ReseedRandom();
    m_bWriting = false;
}

void CDiskRanWriteReadThread::InfiniteLogic(unsigned long index)
{
    GTrace trace(kTraceLevel, "Disk Ran Write Read Thread  Infinite Test Logic");
    m_Progress = INFINITE_PROGRESS;
    // Each control block reads back what it wrote itself, once that write completed.
    // A retried command goes out again as it was built, whichever branch reissues it.
    const CThreadBase::Transfer& last = TransferOf(index);
    if (!last.written || m_pDevice->IsRetryCmd(index)) {
        PrepareWrite(index);
        Checked(m_pDisk->Write(index, m_CurrentBlock, m_BlocksPerXfer, BufferOf(index), 0, 0, 0));
        if (!m_pDevice->IsRetryCmd(index)) {
            CalcNextBlock();
        }
        return;
    }
    const std::uint64_t first = last.firstBlock;
    const std::int32_t blocks = last.blocks;
    PrepareRead(index, first, blocks);
    Checked(m_pDisk->Read(index, first, blocks, BufferOf(index), 0, 0, 0));
}

void CDiskRanWriteReadTest::GetProgressRange(long& low, long& high)
{
    low = 0;
    high = m_OpCount >= 2 ? m_OpCount - 1 : (m_TimeLimit > 0 ? m_TimeLimit - 1 : 100);
}
