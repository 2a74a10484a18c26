#pragma once

#include "frontend/DeviceRecord.h"

#include <array>
#include <cstddef>
#include <vector>

// The program-wide selection: ticked devices in tree order, closed by an
// entry whose host adapter, target and LUN are 9.
class DeviceSelection {
public:
    static constexpr std::size_t CAPACITY = 249;
    static constexpr std::int32_t END_NUMBER = 9;

    DeviceSelection();

    // Copies the ticked records in order; returns how many did not fit.
    std::size_t Build(const std::vector<const DeviceRecord*>& ticked);

    // The entries before the end marker.
    std::vector<DeviceRecord*> Records();
    const DeviceRecord& Entry(std::size_t index) const { return m_entries.at(index); }
    bool Empty() { return Records().empty(); }

    static bool IsEndMarker(const DeviceRecord& record);

private:
    std::array<DeviceRecord, CAPACITY + 1> m_entries;
};
