#pragma once

#include "core/system/CTarget.h"
#include "core/types/CDevAddress.h"

class MylexExtChannel;

// A target behind a Mylex channel, numbered by its RAID target.
class CRaidTarget final : public CTarget {
public:
    explicit CRaidTarget(const CDevAddress& address);

    // Probes the drive; ERR_INIT_FAILED when none answers.
    Error_t Init(MylexExtChannel* channel);
    const CDevAddress& GetAddress() const { return m_Address; }

private:
    CDevAddress m_Address;
};
