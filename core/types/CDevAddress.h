#pragma once

#include <cstdint>

// Address of one device: host adapter, target and LUN, plus three numbers the
// RAID channel extensions use. Only the first three identify the device.
class CDevAddress {
public:
    CDevAddress() = default;
    CDevAddress(std::int32_t hostAdapter, std::int32_t target, std::int32_t lun,
                std::int32_t raidChannel, std::int32_t raidTarget, std::int32_t raidLun);
    // Unpacks adapter, target and LUN; the RAID numbers stay -1.
    explicit CDevAddress(long packed);
    CDevAddress(const CDevAddress&) = default;
    CDevAddress& operator=(const CDevAddress&) = default;
    virtual ~CDevAddress();

    bool operator==(const CDevAddress& other) const;

    // (adapter << 24) + (target << 16) + (LUN << 8); low byte 0.
    long ToData() const;
    // Leaves the RAID numbers unchanged; the low byte is ignored.
    void SetFromData(long packed);

    std::int32_t m_HostAdapter = -1;
    std::int32_t m_Target = -1;
    std::int32_t m_Lun = -1;
    std::int32_t m_RaidChannel = -1;
    std::int32_t m_RaidTarget = -1;
    std::int32_t m_RaidLun = -1;
};
