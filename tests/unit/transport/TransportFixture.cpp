#include "TransportFixture.h"

#include "core/buffers/AlignedBuffer.h"
#include "platform/Registry.h"
#include "support/TestHome.h"

#include <algorithm>

namespace transport_test {

void TransportFixture::SetUp()
{
    m_Dir = test_support::MakeTestHome("transport");
}

void TransportFixture::TearDown()
{
    if (m_BufferManager) {
        AlignedBuffer::UnregisterBufferMgr();
    }
    test_support::LeaveTestHome(m_Dir);
}

void TransportFixture::StartFake(bool withBufferManager)
{
    harrow::platform::SetActiveMachine(std::make_unique<FakePortMachine>(m_Fake));
    harrow::platform::ReloadRegistry();
    if (withBufferManager) {
        ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_HEAP), ERR_NONE);
        m_BufferManager = true;
    }
}

Error_t Issue(CScsiIoCtl& block, std::initializer_list<std::uint8_t> cdb, void* data, long length,
              unsigned long flags, unsigned long lba, unsigned long blocks)
{
    unsigned char* bytes = block.GetCdb(true);
    if (bytes == nullptr) {
        return ERR_NO_RESOURCE;
    }
    std::copy(cdb.begin(), cdb.end(), bytes);
    block.SetBuffer(data, length);
    const Error_t built = block.CompleteCmd(static_cast<unsigned char>(cdb.size()),
                                            static_cast<unsigned long>(length), flags, 30, lba, blocks, 0);
    if (built != ERR_NONE) {
        return built;
    }
    block.DoIO();
    return block.IsCommandComplete();
}

NTPortRequest_s& RequestOf(CScsiIoCtl& block)
{
    return *static_cast<NTPortRequest_s*>(block.GetCtlBlock());
}

}  // namespace transport_test
