#include "DeviceFixture.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/transport/SCSI_NTPortIoCtl.h"
#include "platform/DeviceNamespace.h"
#include "platform/Registry.h"

#include <cstdlib>
#include <fstream>

namespace disk_test {

CScsiIoCtl* PortAdapter::CreateIoCtl(const CDevAddress& address, unsigned char blockIndex)
{
    return new SCSI_NTPortIoCtl(address, blockIndex);
}

void DeviceFixture::SetUp()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "harrow-disk-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_Dir = pattern;
    setenv("HARROW_REGISTRY", (m_Dir / "registry.reg").c_str(), 1);
    setenv("HARROW_STATE", (m_Dir / "state").c_str(), 1);
    setenv("HARROW_WINDIR", (m_Dir / "windows").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (m_Dir / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (m_Dir / "data").c_str(), 1);
    setenv("XDG_STATE_HOME", (m_Dir / "xdgstate").c_str(), 1);
}

void DeviceFixture::TearDown()
{
    AlignedBuffer::UnregisterBufferMgr();
    harrow::platform::SetActiveMachine(nullptr);
    unsetenv("HARROW_MACHINE");
    harrow::platform::ReloadRegistry();
    std::filesystem::remove_all(m_Dir);
}

void DeviceFixture::StartMachine(const std::string& json)
{
    const std::filesystem::path file = m_Dir / "machine.json";
    std::ofstream(file) << json;
    setenv("HARROW_MACHINE", file.c_str(), 1);
    harrow::platform::SetActiveMachine(nullptr);
    harrow::platform::ReloadRegistry();
    ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_HEAP), ERR_NONE);
}

const NTPortRequest_s& Sent(SCSIDevice& device, unsigned long index)
{
    return *static_cast<const NTPortRequest_s*>(device.GetCtlBlock(index)->GetCtlBlock());
}

std::vector<std::uint8_t> SentCdb(SCSIDevice& device, unsigned long index)
{
    const SCSI_PASS_THROUGH_DIRECT& spt = Sent(device, index).Spt;
    return {spt.Cdb, spt.Cdb + spt.CdbLength};
}

}  // namespace disk_test
