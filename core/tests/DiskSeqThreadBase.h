#pragma once

#include "core/tests/CThreadBase.h"

class CDisk;

// A worker that walks its block range from low to high, one transfer per step.
class DiskSeqThreadBase : public CThreadBase {
public:
    // Throws ERR_INVALID_PARAM when the device is not a disk.
    DiskSeqThreadBase(unsigned long startBlock, unsigned long endBlock, long opCount, long blocksPerXfer,
                      SCSIDevice* device, AlignedBuffer* buffer, int patternSlot, int cmdBlocks);

    // An empty range sends nothing.
    bool InitInstance() override;
    virtual bool IsTestFinished();
    virtual void UpdateProgress();

protected:
    // Shortens the last transfer so the range ends exactly at the end block.
    void CalcNextBlock();
    // After a command: unless it is to be retried, step on and end at the
    // top of the range (pausing first when asked).
    void Advance(unsigned long index, bool pauseAtEnd);
    // The blocks of a pass's first command: never past the end of the range.
    std::int32_t FirstTransferBlocks() const;

    CDisk* m_pDisk;

private:
    std::int32_t m_SavedBlocksPerXfer;
};
