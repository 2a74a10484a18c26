#pragma once

#include "core/devices/SCSIDevice.h"

#include <memory>
#include <vector>

class MylexExtChannel;

// A Mylex RAID controller's LUN: a device that owns one channel adapter per
// controller channel, each with the drives behind it.
class CMylexRAIDDevice final : public SCSIDevice {
public:
    static constexpr long kChannels = 4;

    // Takes the identity the scan's probe found.
    explicit CMylexRAIDDevice(SCSIDevice& probe);
    ~CMylexRAIDDevice() override;

    std::string GetScsiIDString() override;
    std::string GetInquiryString() override;
    Device_t GetDevType() override { return DEV_RAID_DISK; }
    bool IsTarget() override { return false; }
    CDevTreeIterator* GetChildrenIterator() override;

    // Builds and probes the channels behind the controller on adapter.
    Error_t SetUpWithAdapter(CHostAdapter* adapter);
    long GetChannelCount() const { return m_ChannelCount; }
    MylexExtChannel* GetChannel(long channel) const;

private:
    long m_ChannelCount = kChannels;
    std::vector<std::unique_ptr<MylexExtChannel>> m_Channels;  // index = channel number
};

// The unique external inquiry: DEV_RAID_DISK for a Mylex controller's LUN,
// DEV_UNKNOWN for anything else.
Device_t MylexRaidCheck(SCSIDevice& device);
