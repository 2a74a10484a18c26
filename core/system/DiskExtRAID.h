#pragma once

#include "core/devices/CDisk.h"

class MylexExtChannel;

// A drive behind a Mylex channel: a disk whose address carries the RAID
// channel, target and LUN, so its control blocks tunnel through the controller.
class DiskExtRAID final : public CDisk {
public:
    DiskExtRAID(MylexExtChannel* channel, const CDevAddress& address);

    CDevAddress GetDevAddress() override { return m_RaidAddress; }
    // Identity and capacity through the channel; ERR_INIT_FAILED when nothing answers.
    Error_t SetUp(MylexExtChannel* channel);

private:
    CDevAddress m_RaidAddress;
};
