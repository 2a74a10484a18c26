#pragma once

#include "core/tests/CTestBase.h"
#include "core/tests/DiskSeqThreadBase.h"

// The sequential disk tests: each thread walks its range of the disk from
// its low end to its high end, one command per step.

class CDiskSeqReadThread : public DiskSeqThreadBase {
public:
    using DiskSeqThreadBase::DiskSeqThreadBase;
    void TestLogic(unsigned long index) override;
};

class CDiskSeqWriteThread : public DiskSeqThreadBase {
public:
    using DiskSeqThreadBase::DiskSeqThreadBase;
    void TestLogic(unsigned long index) override;
};

class CDiskSeqWriteVerifyThread : public CDiskSeqWriteThread {
public:
    using CDiskSeqWriteThread::CDiskSeqWriteThread;
    void TestLogic(unsigned long index) override;
};

class CDiskVerifyThread : public DiskSeqThreadBase {
public:
    using DiskSeqThreadBase::DiskSeqThreadBase;
    void TestLogic(unsigned long index) override;
};

// Writes its whole range, then reads it back.
class CDiskSeqWriteReadThread : public CDiskSeqWriteThread {
public:
    using CDiskSeqWriteThread::CDiskSeqWriteThread;
    void TestLogic(unsigned long index) override;
    void UpdateProgress() override;

private:
    bool m_bWriting = true;
};

// One test class per thread class; they differ only in the thread they make.
template <class Thread>
class CDiskSeqTest : public CTestBase {
public:
    CDiskSeqTest(std::list<CDevAddress>* addresses, long deviceCount, int patternSlot, long threadsPerDevice,
                 int cmdBlocks)
        : CTestBase(addresses, deviceCount, patternSlot, threadsPerDevice, cmdBlocks)
    {
    }

protected:
    CThreadBase* MakeAThread(SCSIDevice* device, AlignedBuffer* buffer) override
    {
        return new Thread(m_ThreadStartBlock, m_ThreadEndBlock, m_OpCount, m_ThreadBlocksPerXfer, device, buffer,
                          m_PatternSlot, m_CmdBlocks);
    }
};

using CDiskSeqReadTest = CDiskSeqTest<CDiskSeqReadThread>;
using CDiskSeqWriteTest = CDiskSeqTest<CDiskSeqWriteThread>;
using CDiskSeqWriteVerifyTest = CDiskSeqTest<CDiskSeqWriteVerifyThread>;
using CDiskVerifyTest = CDiskSeqTest<CDiskVerifyThread>;

class CDiskSeqWriteReadTest : public CDiskSeqTest<CDiskSeqWriteReadThread> {
public:
    using CDiskSeqTest::CDiskSeqTest;
    // Both passes: twice the range.
    void GetProgressRange(long& low, long& high) override;
};
