#include "TransportFixture.h"

#include "core/buffers/AlignedBuffer.h"
#include "platform/Registry.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace transport_test {

void TransportFixture::SetUp()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "harrow-transport-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_Dir = pattern;
    setenv("HARROW_REGISTRY", (m_Dir / "registry.reg").c_str(), 1);
    setenv("HARROW_STATE", (m_Dir / "state").c_str(), 1);
    setenv("HARROW_WINDIR", (m_Dir / "windows").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (m_Dir / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (m_Dir / "data").c_str(), 1);
}

void TransportFixture::TearDown()
{
    if (m_BufferManager) {
        AlignedBuffer::UnregisterBufferMgr();
    }
    harrow::platform::SetActiveMachine(nullptr);
    unsetenv("HARROW_MACHINE");
    harrow::platform::ReloadRegistry();
    std::filesystem::remove_all(m_Dir);
}

void TransportFixture::StartFake(bool withBufferManager)
{
    harrow::platform::SetActiveMachine(std::make_unique<FakePortMachine>(m_Fake));
    Start(withBufferManager);
}

void TransportFixture::StartMachineFile(const std::string& json)
{
    const std::filesystem::path file = m_Dir / "machine.json";
    std::ofstream(file) << json;
    setenv("HARROW_MACHINE", file.c_str(), 1);
    harrow::platform::SetActiveMachine(nullptr);
    Start(true);
}

void TransportFixture::Start(bool withBufferManager)
{
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
