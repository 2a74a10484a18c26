#include "core/tests/CCmdDiskFormatTest.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/devices/CDisk.h"
#include "core/tests/CBufferPatternSystem.h"
#include "core/types/CEventBase.h"

namespace {

// Parameter list header and initialization pattern descriptor: 4 bytes each.
constexpr unsigned long kPatternOffset = 8;

CDisk* RequireDisk(SCSIDevice* device)
{
    auto* disk = dynamic_cast<CDisk*>(device);
    if (disk == nullptr) {
        throw ERR_INVALID_PARAM;
    }
    return disk;
}

// Byte 1 pattern type 1, bytes 2 and 3 the length, most significant first;
// byte 0 keeps the client's modifier bits.
IPdescriptor DescriptorFor(IPdescriptor given, unsigned long length)
{
    return (given & 0xFFu) | (0x01u << 8) | (((length >> 8) & 0xFFu) << 16) | ((length & 0xFFu) << 24);
}

}  // namespace

CCmdDiskFormatThread::CCmdDiskFormatThread(SCSIDevice* device, AlignedBuffer* buffer, int patternSlot,
                                           format_struct format, defectListHeader header, IPdescriptor pattern)
    : CThreadBase(0, 0, 0, 0, device, buffer, patternSlot, 0),
      m_pDisk(RequireDisk(device)),
      m_Format(format),
      m_DefectListHeader(header),
      m_IPdescriptor(pattern)
{
}

bool CCmdDiskFormatThread::InitInstance()
{
    m_StartTime = std::time(nullptr);
    RunTest();
    return false;
}

void CCmdDiskFormatThread::DescribePattern()
{
    if ((m_DefectListHeader & kDefectHeaderIp) == 0) {
        m_Format.PatternLength = 0;
        return;
    }
    CBufferPatternSystem* patterns = CBufferPatternSystem::Instance();
    Error_t filled = ERR_NONE;
    if (patterns->GetPatternType(m_PatternSlot) != PatternBlockNumbers && m_pBuffer->Size() > kPatternOffset) {
        // The pattern follows the header and the descriptor in the parameter list (SBC-3 6.2.2).
        AlignedBuffer pattern(static_cast<unsigned char*>(m_pBuffer->Ptr()) + kPatternOffset,
                              static_cast<long>(m_pBuffer->Size() - kPatternOffset));
        filled = patterns->FillBuffer(m_PatternSlot, &pattern);
    }
    if (filled != ERR_NOT_INITIALIZED) {
        const unsigned long length = static_cast<unsigned long>(patterns->GetPatternLength(m_PatternSlot));
        m_IPdescriptor = DescriptorFor(m_IPdescriptor, length);
        m_Format.PatternLength = static_cast<std::uint32_t>(length);
    }
}

void CCmdDiskFormatThread::TestLogic(unsigned long index)
{
    DescribePattern();
    try {
        Checked(m_pDisk->FormatUnit(index, m_Format, m_DefectListHeader, m_IPdescriptor, m_pBuffer));
    } catch (CEventBase* event) {
        ProcessError(event);
    }
    EndTest();
}

CCmdDiskFormatTest::CCmdDiskFormatTest(std::list<CDevAddress>* addresses, long deviceCount, format_struct format,
                                       defectListHeader header, IPdescriptor pattern, int patternSlot,
                                       long threadsPerDevice)
    : CTestBase(addresses, deviceCount, patternSlot, threadsPerDevice, 0),
      m_Format(format),
      m_DefectListHeader(header),
      m_IPdescriptor(pattern)
{
    SetCustomBufSize(kBufferBytes);
}

Error_t CCmdDiskFormatTest::StartTest()
{
    return ERR_NONE;
}

Error_t CCmdDiskFormatTest::StartTest(int, long, long, long)
{
    return ERR_NONE;
}

Error_t CCmdDiskFormatTest::StartTest(unsigned long, unsigned long, long, long, long)
{
    return ERR_NONE;
}

CThreadBase* CCmdDiskFormatTest::MakeAThread(SCSIDevice* device, AlignedBuffer* buffer)
{
    return new CCmdDiskFormatThread(device, buffer, m_PatternSlot, m_Format, m_DefectListHeader, m_IPdescriptor);
}
