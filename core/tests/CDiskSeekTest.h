#pragma once

#include "core/tests/CTestBase.h"
#include "core/tests/DiskRanThreadBase.h"

enum SeekTest_t : std::int32_t {
    RandomSeek = 1,
    ButterflySeek = 3,
    FullStrokeSeek = 4,
};

// Drives the heads without data: random blocks, a butterfly closing in from
// both ends of the range, or full strokes between its ends. Any other kind
// seeks to the start block again and again.
class CDiskSeekThread : public DiskRanThreadBase {
public:
    CDiskSeekThread(unsigned long startBlock, unsigned long endBlock, long opCount, long timeLimit,
                    SCSIDevice* device, AlignedBuffer* buffer, int patternSlot, int cmdBlocks, SeekTest_t kind);

    void TestLogic(unsigned long index) override;
    bool IsTestFinished() override;
    void UpdateProgress() override;

private:
    void NextSeekBlock();
    void NextButterflyBlock();

    std::int32_t m_SeeksInPass = 0;
    bool m_bDirection = true;
    bool m_bAlternate = true;
    std::uint64_t m_LowCursor;
    std::uint64_t m_HighCursor;
    bool m_bPassComplete = false;
    SeekTest_t m_Kind;
};

class CDiskSeekTest : public CTestBase {
public:
    CDiskSeekTest(std::list<CDevAddress>* addresses, long deviceCount, SeekTest_t kind, int patternSlot,
                  long threadsPerDevice, int cmdBlocks);

    void GetProgressRange(long& low, long& high) override;
    using CTestBase::StartTest;
    // An empty range of a thread would seek nowhere and pass.
    Error_t StartTest(unsigned long startBlock, unsigned long endBlock, long opCount, long blocksPerXfer,
                      long timeLimit) override;

protected:
    // A seek goes to its end block itself: the device's last block is as far as it may go.
    std::uint64_t DeviceEnd(const SCSIDevice& device) const override;
    CThreadBase* MakeAThread(SCSIDevice* device, AlignedBuffer* buffer) override;

private:
    SeekTest_t m_Kind;
};
