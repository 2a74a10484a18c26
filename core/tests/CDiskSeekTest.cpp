#include "core/tests/CDiskSeekTest.h"

#include "core/devices/CDisk.h"

CDiskSeekThread::CDiskSeekThread(unsigned long startBlock, unsigned long endBlock, long opCount, long timeLimit,
                                 SCSIDevice* device, AlignedBuffer* buffer, int patternSlot, int cmdBlocks,
                                 SeekTest_t kind)
    : DiskRanThreadBase(startBlock, endBlock, opCount, 0, timeLimit, device, buffer, patternSlot, cmdBlocks),
      m_LowCursor(startBlock),
      m_HighCursor(endBlock),
      m_Kind(kind)
{
}

void CDiskSeekThread::TestLogic(unsigned long index)
{
    Checked(m_pDisk->Seek(index, m_CurrentBlock));
    if (m_pDevice->IsRetryCmd(index)) {
        return;
    }
    NextSeekBlock();
    UpdateProgress();
    if (m_bPassComplete) {
        ++m_OpCounter;
        m_SeeksInPass = 0;
        m_bPassComplete = false;
    }
    if (IsTestFinished()) {
        Pause(END_PAUSE_MS);
        EndTest();
    }
}

void CDiskSeekThread::NextSeekBlock()
{
    switch (m_Kind) {
    case RandomSeek:
        CalcNextBlock();
        m_bPassComplete = true;
        break;
    case ButterflySeek:
        NextButterflyBlock();
        break;
    case FullStrokeSeek:
        if (m_CurrentBlock == m_StartBlock) {
            m_CurrentBlock = m_EndBlock;
        } else {
            m_CurrentBlock = m_StartBlock;
            m_bPassComplete = true;
        }
        break;
    default:
        // Every seek is a pass, so a counted run of this kind still ends.
        m_bPassComplete = true;
        break;
    }
}

void CDiskSeekThread::NextButterflyBlock()
{
    ++m_SeeksInPass;
    const int step = m_bDirection ? 1 : -1;
    if (m_bAlternate) {
        m_CurrentBlock = m_LowCursor;
        m_LowCursor += static_cast<std::uint64_t>(step);
    } else {
        m_CurrentBlock = m_HighCursor;
        m_HighCursor -= static_cast<std::uint64_t>(step);
    }
    m_bAlternate = !m_bAlternate;
    if (m_LowCursor == m_EndBlock && m_bDirection) {
        m_bDirection = false;
    }
    if (m_HighCursor == m_EndBlock && !m_bDirection) {
        m_bDirection = true;
        m_bPassComplete = true;
    }
}

bool CDiskSeekThread::IsTestFinished()
{
    if (m_Kind == ButterflySeek) {
        return m_OpCounter >= m_OpCountLimit;
    }
    return DiskRanThreadBase::IsTestFinished();
}

void CDiskSeekThread::UpdateProgress()
{
    RefreshElapsed();
    switch (m_Kind) {
    case RandomSeek:
        m_Progress = IsTimeBased() ? m_Elapsed : INFINITE_PROGRESS;
        break;
    case ButterflySeek:
        m_Progress = m_SeeksInPass;
        break;
    case FullStrokeSeek:
        m_Progress = IsIoBased() ? m_OpCounter : INFINITE_PROGRESS;
        break;
    default:
        m_Progress = INFINITE_PROGRESS;
        break;
    }
}

CDiskSeekTest::CDiskSeekTest(std::list<CDevAddress>* addresses, long deviceCount, SeekTest_t kind, int patternSlot,
                             long threadsPerDevice, int cmdBlocks)
    : CTestBase(addresses, deviceCount, patternSlot, threadsPerDevice, cmdBlocks), m_Kind(kind)
{
}

Error_t CDiskSeekTest::StartTest(unsigned long startBlock, unsigned long endBlock, long opCount,
                                 long blocksPerXfer, long timeLimit)
{
    const Error_t result = CTestBase::StartTest(startBlock, endBlock, opCount, blocksPerXfer, timeLimit);
    return result == ERR_NONE && ThreadSpan() == 0 ? ERR_INVALID_PARAM : result;
}

void CDiskSeekTest::GetProgressRange(long& low, long& high)
{
    low = 0;
    switch (m_Kind) {
    case RandomSeek:
        high = m_TimeLimit != 0 ? m_TimeLimit : 100;
        break;
    case ButterflySeek:
        high = 4 * (static_cast<long>(m_EndBlock) - static_cast<long>(m_StartBlock));
        break;
    case FullStrokeSeek:
        high = m_OpCount >= 2 ? m_OpCount - 1 : 100;
        break;
    default:
        if (m_Kind <= 5) {
            high = 100;
        }
        break;
    }
}

std::uint64_t CDiskSeekTest::DeviceEnd(const SCSIDevice& device) const
{
    return device.GetHighBlock();
}

CThreadBase* CDiskSeekTest::MakeAThread(SCSIDevice* device, AlignedBuffer* buffer)
{
    return new CDiskSeekThread(m_ThreadStartBlock, m_ThreadEndBlock, m_OpCount, m_TimeLimit, device, buffer,
                               m_PatternSlot, m_CmdBlocks, m_Kind);
}
