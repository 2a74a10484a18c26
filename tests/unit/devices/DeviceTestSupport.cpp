#include "DeviceTestSupport.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/system/CComputerSystem.h"
#include "core/transport/SCSI_NTPortIoCtl.h"
#include "platform/DeviceNamespace.h"
#include "platform/Registry.h"
#include "support/TestHome.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace devices_test {

ScriptedIoCtl::ScriptedIoCtl(const CDevAddress& address, unsigned char index, std::shared_ptr<Script> script)
    : CScsiIoCtl(address, index), m_Script(std::move(script))
{
    MakeRequestMemory(sizeof(Request));
}

unsigned char* ScriptedIoCtl::GetCdb(bool clear)
{
    if (Req() == nullptr || IsRetryCmd()) {
        return nullptr;
    }
    if (clear) {
        ClearRequestState();
    }
    return Req()->Cdb;
}

Error_t ScriptedIoCtl::SetBuffer(void* data, long length)
{
    m_Data = data;
    SetBufferLength(length);
    return ERR_NONE;
}

Error_t ScriptedIoCtl::CompleteCmd(unsigned char cdbLength, unsigned long dataLength, unsigned long flags,
                                   long timeout, unsigned long lba, unsigned long blocks, unsigned char option)
{
    if (Error_t refused = CheckCompleteCmd(dataLength); refused != ERR_NONE) {
        return refused;
    }
    RecordCommand(timeout, lba, blocks, option);
    TakeCommandKind(dataLength, flags);
    Req()->CdbLength = ClampCdbLength(cdbLength);
    m_Built = Issued{{}, dataLength, flags, timeout, static_cast<unsigned long>(BufferLength())};
    return ERR_NONE;
}

Error_t ScriptedIoCtl::DoIO()
{
    m_Built.Cdb.assign(Req()->Cdb, Req()->Cdb + Req()->CdbLength);
    m_Script->Log.push_back(m_Built);
    const Error_t refused = m_Script->Answers.empty() ? ERR_NONE : m_Script->Answers.front().DoIoResult;
    if (refused != ERR_NONE) {
        m_Script->Answers.pop_front();
    }
    StartTimer();
    return refused;
}

Error_t ScriptedIoCtl::IsCommandComplete()
{
    if (GetStatus() != ERR_CMD_NOT_STARTED && GetStatus() != ERR_CMD_PENDING) {
        return GetStatus();
    }
    Answer answer;
    if (!m_Script->Answers.empty()) {
        answer = m_Script->Answers.front();
        m_Script->Answers.pop_front();
    }
    if (m_Data != nullptr && !answer.Data.empty()) {
        std::memcpy(m_Data, answer.Data.data(), std::min<std::size_t>(answer.Data.size(), m_Built.DataLength));
    }
    std::memset(&Req()->Sense, 0, sizeof Req()->Sense);
    if (answer.SenseKey >= 0) {
        Req()->Sense.ResponseCode = 0x70;
        Req()->Sense.Flags = static_cast<std::uint8_t>(answer.SenseKey);
        Req()->Sense.AdditionalSenseLength = 10;
    }
    m_LastAnswer = answer.Status;
    StopTimer();
    SetStatus(answer.Status);
    UpdatePerformance();
    return GetStatus();
}

SCSI_SenseData_s* ScriptedIoCtl::GetSenseData()
{
    return Req() != nullptr ? &Req()->Sense : nullptr;
}

unsigned char ScriptedIoCtl::GetCdbLen()
{
    return Req() != nullptr ? Req()->CdbLength : 255;
}

bool ScriptedIoCtl::GetIOStatii(Error_t* srb, Error_t* ha, Error_t* target)
{
    *srb = ERR_NONE;
    *ha = ERR_NONE;
    *target = ERR_NONE;
    return true;
}

Error_t ScriptedIoCtl::SetQueueType(QTYPE_ENUM type)
{
    if (!m_Script->TaggedQueuing) {
        return CScsiIoCtl::SetQueueType(type);
    }
    SetQueueTypeValue(type);
    return ERR_NONE;
}

CScsiIoCtl* FakeAdapter::CreateIoCtl(const CDevAddress& address, unsigned char blockIndex)
{
    if (blocksLeft == 0) {
        return nullptr;
    }
    if (blocksLeft > 0) {
        --blocksLeft;
    }
    if (m_bNtPort) {
        return new SCSI_NTPortIoCtl(address, blockIndex);
    }
    return new ScriptedIoCtl(address, blockIndex, script);
}

void DeviceFixture::SetUp()
{
    m_Dir = test_support::MakeTestHome("devices");
    harrow::platform::ReloadRegistry();
    ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_HEAP), ERR_NONE);
    CScsiIoCtl::SetNumUnitAttnRetries(0);
}

void DeviceFixture::TearDown()
{
    CScsiIoCtl::SetNumUnitAttnRetries(0);
    CComputerSystem::Destroy();
    AlignedBuffer::UnregisterBufferMgr();
    test_support::LeaveTestHome(m_Dir);
}

void DeviceFixture::UseMachine(const std::string& json)
{
    // The buffer manager holds the port driver, which lists the ports when it is made.
    AlignedBuffer::UnregisterBufferMgr();
    test_support::UseMachineFile(m_Dir, json);
    ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_HEAP), ERR_NONE);
}

std::unique_ptr<TestDevice> ScriptedDevice(FakeAdapter& adapter, unsigned long lun)
{
    auto device = std::make_unique<TestDevice>(&adapter, adapter.GetAssignedID(), 2, lun);
    EXPECT_EQ(device->AllocateResource(), true);
    EXPECT_EQ(device->SetIoCtlBlocks(0), 0UL);  // block 0 only
    return device;
}

}  // namespace devices_test
