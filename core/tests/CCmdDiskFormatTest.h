#pragma once

#include "core/devices/DiskFormat.h"
#include "core/tests/CTestBase.h"
#include "core/tests/CThreadBase.h"

class CDisk;

// One FORMAT UNIT per thread; an initialization pattern comes from the test's pattern slot.
class CCmdDiskFormatThread : public CThreadBase {
public:
    // Throws ERR_INVALID_PARAM when the device is not a disk.
    CCmdDiskFormatThread(SCSIDevice* device, AlignedBuffer* buffer, int patternSlot, format_struct format,
                         defectListHeader header, IPdescriptor pattern);

    bool InitInstance() override;
    void TestLogic(unsigned long index) override;

    IPdescriptor GetIPdescriptor() const { return m_IPdescriptor; }
    const format_struct& GetFormat() const { return m_Format; }

private:
    void DescribePattern();

    CDisk* m_pDisk;
    format_struct m_Format;
    defectListHeader m_DefectListHeader;
    IPdescriptor m_IPdescriptor;
};

class CCmdDiskFormatTest : public CTestBase {
public:
    static constexpr long kBufferBytes = 2049;

    CCmdDiskFormatTest(std::list<CDevAddress>* addresses, long deviceCount, format_struct format,
                       defectListHeader header, IPdescriptor pattern, int patternSlot, long threadsPerDevice);

    Error_t StartTest();
    // The block-range forms do not apply to a format.
    Error_t StartTest(int percentage, long opCount, long blocksPerXfer, long timeLimit) override;
    Error_t StartTest(unsigned long startBlock, unsigned long endBlock, long opCount, long blocksPerXfer,
                      long timeLimit) override;

protected:
    CThreadBase* MakeAThread(SCSIDevice* device, AlignedBuffer* buffer) override;

private:
    format_struct m_Format;
    defectListHeader m_DefectListHeader;
    IPdescriptor m_IPdescriptor;
};
