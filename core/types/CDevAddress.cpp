#include "core/types/CDevAddress.h"

CDevAddress::CDevAddress(std::int32_t hostAdapter, std::int32_t target, std::int32_t lun,
                         std::int32_t raidChannel, std::int32_t raidTarget, std::int32_t raidLun)
    : m_HostAdapter(hostAdapter), m_Target(target), m_Lun(lun),
      m_RaidChannel(raidChannel), m_RaidTarget(raidTarget), m_RaidLun(raidLun) {}

CDevAddress::CDevAddress(long packed) {
    SetFromData(packed);
}

CDevAddress::~CDevAddress() = default;

bool CDevAddress::operator==(const CDevAddress& other) const {
    return m_HostAdapter == other.m_HostAdapter && m_Target == other.m_Target &&
           m_Lun == other.m_Lun;
}

long CDevAddress::ToData() const {
    // Each number occupies one byte of the packed form.
    const auto byte = [](std::int32_t v) { return static_cast<long>(static_cast<std::uint8_t>(v)); };
    return (byte(m_HostAdapter) << 24) + (byte(m_Target) << 16) + (byte(m_Lun) << 8);
}

void CDevAddress::SetFromData(long packed) {
    const auto bits = static_cast<unsigned long>(packed);
    m_HostAdapter = static_cast<std::int32_t>((bits >> 24) & 0xFF);
    m_Target = static_cast<std::int32_t>((bits >> 16) & 0xFF);
    m_Lun = static_cast<std::int32_t>((bits >> 8) & 0xFF);
}
