#include "core/tests/CTestBufferAccess.h"

#include "core/devices/SCSIDevice.h"
#include "core/tests/CTestBase.h"

CTestBufferAccess::CTestBufferAccess(CTestBase* test) : m_pTest(test) {}

CTestBufferAccess::~CTestBufferAccess() = default;

int CTestBufferAccess::GetNumBuffers() const
{
    return m_pTest != nullptr ? static_cast<int>(m_pTest->GetNumBuffers()) : 0;
}

AlignedBuffer* CTestBufferAccess::Current() const
{
    return m_pTest != nullptr ? m_pTest->GetBuffer(m_BufferIndex) : nullptr;
}

AlignedBuffer* CTestBufferAccess::GetFirstBuffer()
{
    if (GetNumBuffers() == 0) {
        return nullptr;
    }
    m_BufferIndex = 0;
    return Current();
}

AlignedBuffer* CTestBufferAccess::GetNextBuffer()
{
    if (m_BufferIndex + 1 < GetNumBuffers()) {
        ++m_BufferIndex;
    }
    return Current();
}

AlignedBuffer* CTestBufferAccess::GetPrevBuffer()
{
    if (m_BufferIndex > 0) {
        --m_BufferIndex;
    }
    return Current();
}

void CTestBufferAccess::GetCurrentThread(int& hostAdapter, int& target, int& lun, int& thread)
{
    const long perDevice = m_pTest != nullptr ? m_pTest->GetThreadsPerDevice() : 0;
    const SCSIDevice* device =
        perDevice > 0 && m_BufferIndex >= 0 ? m_pTest->GetDevice(m_BufferIndex / perDevice) : nullptr;
    if (device == nullptr) {
        hostAdapter = target = lun = thread = -1;
        return;
    }
    hostAdapter = device->GetHANum();
    target = device->GetTargetNum();
    lun = static_cast<int>(device->GetLUNNum());
    thread = static_cast<int>(m_BufferIndex % perDevice);
}
