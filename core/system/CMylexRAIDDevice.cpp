#include "core/system/CMylexRAIDDevice.h"

#include "core/log/GTrace.h"
#include "core/system/CHostAdapter.h"
#include "core/system/CTarget.h"
#include "core/system/MylexExtChannel.h"
#include "core/transport/CScsiIoCtl.h"
#include "core/types/StringPrintf.h"

#include <array>
#include <cstring>
#include <new>

namespace {

constexpr unsigned long kExternalInquiryBytes = 255;
// What byte 3 of the answer holds on the controllers this tunnel serves.
constexpr unsigned char kMylexFirmware[] = {8, 10};

class CChannelIterator final : public CDevTreeIterator {
public:
    explicit CChannelIterator(const std::vector<std::unique_ptr<MylexExtChannel>>& channels) : m_Channels(channels) {}
    bool HasNext() override { return m_Next < m_Channels.size(); }
    CDevTreeNode* Next() override { return HasNext() ? m_Channels[m_Next++].get() : nullptr; }

private:
    const std::vector<std::unique_ptr<MylexExtChannel>>& m_Channels;
    std::size_t m_Next = 0;
};

}  // namespace

Device_t MylexRaidCheck(SCSIDevice& device)
{
    GTrace trace(SCSIDevice::kTraceLevel, "Mylex Unique External Inquiry");
    SCSI_Cdb_UserDef16Byte_s command{};
    const unsigned char cdb[10] = {0x20, 0x00, 0x1C, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00};
    std::memcpy(command.Cdb, cdb, sizeof cdb);
    command.CdbLength = sizeof cdb;
    command.DataLength = kExternalInquiryBytes;
    command.Flags = CScsiIoCtl::kFlagDataIn;
    command.Timeout = CScsiIoCtl::GetTimeout();
    std::array<unsigned char, kExternalInquiryBytes> answer{};
    try {
        if (device.SCSI_CDB_DANGER(0, &command, answer.data()) != ERR_NONE) {
            return DEV_UNKNOWN;
        }
    } catch (CScsiIoCtl*) {
        return DEV_UNKNOWN;  // the block stays the device's; nothing else to release
    }
    for (unsigned char firmware : kMylexFirmware) {
        if (answer[3] == firmware) {
            return DEV_RAID_DISK;
        }
    }
    return DEV_UNKNOWN;
}

CMylexRAIDDevice::CMylexRAIDDevice(SCSIDevice& probe)
    : SCSIDevice(probe.GetHostAdapter(), probe.GetHANum(), probe.GetTargetNum(), probe.GetLUNNum())
{
    AdoptIdentity(probe);
    SetSerialNum_Str(probe.GetSerialNum_Str());
    SetCopyright(probe.GetCopyright());
    SetDevType(DEV_RAID_DISK);
}

CMylexRAIDDevice::~CMylexRAIDDevice() = default;

std::string CMylexRAIDDevice::GetScsiIDString()
{
    const CTarget* target = GetHostAdapter() != nullptr ? GetHostAdapter()->GetTarget(GetTargetNum()) : nullptr;
    if (target != nullptr && target->GetNumLUNs() >= 2) {
        return StringPrintf("LUN %d", static_cast<int>(GetLUNNum()));
    }
    return StringPrintf("Target %d", GetTargetNum());
}

std::string CMylexRAIDDevice::GetInquiryString()
{
    return StringPrintf("%s  %s  (%s, %lu)", GetVendor().c_str(), GetModelName().c_str(),
                        GetFirmwareVersion().c_str(), GetHighBlock());
}

CDevTreeIterator* CMylexRAIDDevice::GetChildrenIterator()
{
    return new CChannelIterator(m_Channels);
}

MylexExtChannel* CMylexRAIDDevice::GetChannel(long channel) const
{
    return channel >= 0 && static_cast<std::size_t>(channel) < m_Channels.size()
               ? m_Channels[static_cast<std::size_t>(channel)].get()
               : nullptr;
}

Error_t CMylexRAIDDevice::SetUpWithAdapter(CHostAdapter* adapter)
{
    SetDevType(DEV_RAID_DISK);  // its INQUIRY says disk
    if (m_ChannelCount == -1) {
        return ERR_NONE;
    }
    for (long channel = 0; channel < m_ChannelCount; ++channel) {
        try {
            m_Channels.push_back(std::make_unique<MylexExtChannel>(adapter, GetTargetNum(),
                                                                   static_cast<int>(GetLUNNum()),
                                                                   static_cast<int>(channel)));
        } catch (const std::bad_alloc&) {
            return ERR_NO_MEMORY;
        }
        m_Channels.back()->Init();  // an empty channel is still a channel
    }
    return ERR_NONE;
}
