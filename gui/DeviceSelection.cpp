#include "gui/DeviceSelection.h"

#include <algorithm>

namespace {

DeviceRecord EndMarker()
{
    DeviceRecord marker;
    marker.hostAdapter = DeviceSelection::END_NUMBER;
    marker.target = DeviceSelection::END_NUMBER;
    marker.lun = DeviceSelection::END_NUMBER;
    return marker;
}

}  // namespace

DeviceSelection::DeviceSelection() { m_entries[0] = EndMarker(); }

bool DeviceSelection::IsEndMarker(const DeviceRecord& record)
{
    return record.hostAdapter == END_NUMBER && record.target == END_NUMBER && record.lun == END_NUMBER;
}

std::size_t DeviceSelection::Build(const std::vector<const DeviceRecord*>& ticked)
{
    const std::size_t kept = std::min(ticked.size(), CAPACITY);
    for (std::size_t i = 0; i < kept; ++i) {
        m_entries[i] = *ticked[i];
        m_entries[i].selected = 1;
    }
    m_entries[kept] = EndMarker();
    return ticked.size() - kept;
}

std::vector<DeviceRecord*> DeviceSelection::Records()
{
    std::vector<DeviceRecord*> records;
    for (DeviceRecord& entry : m_entries) {
        if (IsEndMarker(entry)) {
            break;
        }
        records.push_back(&entry);
    }
    return records;
}
