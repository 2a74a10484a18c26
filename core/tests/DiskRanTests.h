#pragma once

#include "core/tests/CTestBase.h"
#include "core/tests/DiskRanThreadBase.h"

// The random disk tests: each thread moves data at random blocks of its range.

class CDiskRanReadThread : public DiskRanThreadBase {
public:
    using DiskRanThreadBase::DiskRanThreadBase;
    void TestLogic(unsigned long index) override;
};

class CDiskRanWriteThread : public DiskRanThreadBase {
public:
    using DiskRanThreadBase::DiskRanThreadBase;
    void TestLogic(unsigned long index) override;
};

class CDiskRanWriteVerifyThread : public CDiskRanWriteThread {
public:
    using CDiskRanWriteThread::CDiskRanWriteThread;
    void TestLogic(unsigned long index) override;
};

// Writes at random blocks, then reads them back: in two halves when counted
// or timed (never reading more than it wrote), block by block when it runs
// until ended.
class CDiskRanWriteReadThread : public CDiskRanWriteThread {
public:
    using CDiskRanWriteThread::CDiskRanWriteThread;
    void TestLogic(unsigned long index) override;

private:
    void InfiniteLogic(unsigned long index);
    // One command of a counted or timed pass; true when it is not to be retried.
    bool Transfer(unsigned long index);
    void SwitchToReading();

    bool m_bWriting = true;
    std::int32_t m_Writes = 0;
    std::int32_t m_Reads = 0;
};

template <class Thread>
class CDiskRanTest : public CTestBase {
public:
    CDiskRanTest(std::list<CDevAddress>* addresses, long deviceCount, int patternSlot, long threadsPerDevice,
                 int cmdBlocks)
        : CTestBase(addresses, deviceCount, patternSlot, threadsPerDevice, cmdBlocks)
    {
    }

    void GetProgressRange(long& low, long& high) override
    {
        low = 0;
        high = m_OpCount >= 2 ? m_OpCount : (m_TimeLimit > 0 ? m_TimeLimit : 100);
    }

    // A transfer of no blocks, or a thread's range too short for one, would
    // send nothing, or nothing but empty commands, and pass.
    Error_t StartTest(int percentage, long opCount, long blocksPerXfer, long timeLimit) override
    {
        const Error_t result = CTestBase::StartTest(percentage, opCount, blocksPerXfer, timeLimit);
        return result == ERR_NONE && blocksPerXfer <= 0 ? ERR_INVALID_PARAM : result;
    }
    Error_t StartTest(unsigned long startBlock, unsigned long endBlock, long opCount, long blocksPerXfer,
                      long timeLimit) override
    {
        const Error_t result = CTestBase::StartTest(startBlock, endBlock, opCount, blocksPerXfer, timeLimit);
        if (result == ERR_NONE && (blocksPerXfer <= 0 || ThreadSpan() < static_cast<unsigned long>(blocksPerXfer))) {
            return ERR_INVALID_PARAM;
        }
        return result;
    }

protected:
    CThreadBase* MakeAThread(SCSIDevice* device, AlignedBuffer* buffer) override
    {
        return new Thread(m_ThreadStartBlock, m_ThreadEndBlock, m_OpCount, m_ThreadBlocksPerXfer, m_TimeLimit, device,
                          buffer, m_PatternSlot, m_CmdBlocks);
    }
};

using CDiskRanReadTest = CDiskRanTest<CDiskRanReadThread>;
using CDiskRanWriteTest = CDiskRanTest<CDiskRanWriteThread>;
using CDiskRanWriteVerifyTest = CDiskRanTest<CDiskRanWriteVerifyThread>;

class CDiskRanWriteReadTest : public CDiskRanTest<CDiskRanWriteReadThread> {
public:
    using CDiskRanTest::CDiskRanTest;
    void GetProgressRange(long& low, long& high) override;
};
