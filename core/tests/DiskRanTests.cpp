#include "core/tests/DiskRanTests.h"

#include "core/devices/CDisk.h"
#include "core/log/GTrace.h"

namespace {

constexpr unsigned long kTraceLevel = 0x8000;

}  // namespace

void CDiskRanReadThread::TestLogic(unsigned long index)
{
    Checked(m_pDisk->Read(index, m_CurrentBlock, m_BlocksPerXfer, m_pBuffer, 0, 0, 0));
    CompareIfOn();
    Advance(index);
}

CDiskRanWriteThread::CDiskRanWriteThread(unsigned long startBlock, unsigned long endBlock, long opCount,
                                         long blocksPerXfer, long timeLimit, SCSIDevice* device,
                                         AlignedBuffer* buffer, int patternSlot, int cmdBlocks)
    : DiskRanThreadBase(startBlock, endBlock, opCount, blocksPerXfer, timeLimit, device, buffer, patternSlot,
                        cmdBlocks)
{
    FillFixedPattern();
}

void CDiskRanWriteThread::TestLogic(unsigned long index)
{
    FillBlockNumbers();
    Checked(m_pDisk->Write(index, m_CurrentBlock, m_BlocksPerXfer, m_pBuffer, 0, 0, 0));
    Advance(index);
}

void CDiskRanWriteVerifyThread::TestLogic(unsigned long index)
{
    FillBlockNumbers();
    Checked(m_pDisk->WriteVerify(index, m_CurrentBlock, m_BlocksPerXfer, m_pBuffer, 0, 0, 0));
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
    const bool halfDone = IsIoBased() ? m_OpCounter >= m_OpCountLimit / 2 : m_Elapsed >= m_TimeLimit / 2;
    if (writing && halfDone) {
        SwitchToReading();
    } else if (!writing && IsTestFinished()) {
        Pause(END_PAUSE_MS);
        EndTest();
    }
}

bool CDiskRanWriteReadThread::Transfer(unsigned long index)
{
    if (m_bWriting) {
        FillBlockNumbers();
        Checked(m_pDisk->Write(index, m_CurrentBlock, m_BlocksPerXfer, m_pBuffer, 0, 0, 0));
    } else {
        Checked(m_pDisk->Read(index, m_CurrentBlock, m_BlocksPerXfer, m_pBuffer, 0, 0, 0));
        CompareIfOn();
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
    // The same seed again: the read pass visits the written blocks in the same order.
    m_CurrentBlock = m_StartBlock;
    ReseedRandom();
    m_bWriting = false;
}

void CDiskRanWriteReadThread::InfiniteLogic(unsigned long index)
{
    GTrace trace(kTraceLevel, "Disk Ran Write Read Thread  Infinite Test Logic");
    m_Progress = INFINITE_PROGRESS;
    if (m_bWriting) {
        FillBlockNumbers();
        Checked(m_pDisk->Write(index, m_CurrentBlock, m_BlocksPerXfer, m_pBuffer, 0, 0, 0));
        if (!m_pDevice->IsRetryCmd(index)) {
            m_bWriting = false;
        }
        return;
    }
    Checked(m_pDisk->Read(index, m_CurrentBlock, m_BlocksPerXfer, m_pBuffer, 0, 0, 0));
    CompareIfOn();
    if (!m_pDevice->IsRetryCmd(index)) {
        CalcNextBlock();
        m_bWriting = true;
    }
}

void CDiskRanWriteReadTest::GetProgressRange(long& low, long& high)
{
    low = 0;
    high = m_OpCount >= 2 ? m_OpCount - 1 : (m_TimeLimit > 0 ? m_TimeLimit - 1 : 100);
}
