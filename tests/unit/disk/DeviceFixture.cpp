#include "DeviceFixture.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/transport/SCSI_NTPortIoCtl.h"
#include "platform/DeviceNamespace.h"
#include "platform/Registry.h"
#include "support/TestHome.h"

#include <cstdlib>
#include <fstream>

namespace disk_test {

CScsiIoCtl* PortAdapter::CreateIoCtl(const CDevAddress& address, unsigned char blockIndex)
{
    return new SCSI_NTPortIoCtl(address, blockIndex);
}

void DeviceFixture::SetUp()
{
    m_Dir = test_support::MakeTestHome("disk");
}

void DeviceFixture::TearDown()
{
    AlignedBuffer::UnregisterBufferMgr();
    test_support::LeaveTestHome(m_Dir);
}

void DeviceFixture::StartMachine(const std::string& json)
{
    test_support::UseMachineFile(m_Dir, json);
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
