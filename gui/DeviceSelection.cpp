#include "gui/DeviceSelection.h"

#include "frontend/TextFormat.h"
#include "gui/GuiLog.h"

#include <algorithm>
#include <stdexcept>

namespace {

DeviceRecord EndMarker()
{
    DeviceRecord marker;
    marker.hostAdapter = DeviceSelection::kEndNumber;
    marker.target = DeviceSelection::kEndNumber;
    marker.lun = DeviceSelection::kEndNumber;
    return marker;
}

}  // namespace

DeviceSelection::DeviceSelection() { m_entries[0] = EndMarker(); }

bool DeviceSelection::IsEndMarker(const DeviceRecord& record)
{
    return record.hostAdapter == kEndNumber && record.target == kEndNumber && record.lun == kEndNumber;
}

std::size_t DeviceSelection::Build(const std::vector<const DeviceRecord*>& ticked,
                                   const std::vector<DeviceFacts>& facts)
{
    const std::size_t kept = std::min(ticked.size(), kCapacity);
    for (std::size_t i = 0; i < kept; ++i) {
        m_entries[i] = *ticked[i];
        m_entries[i].selected = 1;
        m_facts[i] = i < facts.size() ? facts[i] : DeviceFacts{};
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

std::size_t DeviceSelection::IndexOf(const DeviceRecord& record) const
{
    const DeviceRecord* first = m_entries.data();
    if (&record < first || &record >= first + m_entries.size()) {
        throw std::logic_error("a record outside the selection");
    }
    return static_cast<std::size_t>(&record - first);
}

const DeviceFacts& DeviceSelection::FactsOf(const DeviceRecord& record) const { return m_facts[IndexOf(record)]; }

bool DeviceSelection::IsDisk(const DeviceRecord& record) const
{
    constexpr int kDirectAccess = 0x00;
    return FactsOf(record).peripheralType == kDirectAccess;
}

std::string DeviceSelection::Describe(const DeviceRecord& record) const
{
    const DeviceIdentity& id = FactsOf(record).identity;
    std::string text = FormatDeviceAddress(record) + " " + id.vendor + " " + id.product;
    if (!id.serialNumber.empty()) {
        text += " serial " + id.serialNumber;
    }
    return text;
}

std::vector<DeviceRecord*> DeviceSelection::DisksFor(const char* operation)
{
    std::vector<DeviceRecord*> disks;
    for (DeviceRecord* record : Records()) {
        if (IsDisk(*record)) {
            disks.push_back(record);
            continue;
        }
        const std::string text = Format("%s skipped: not a disk", operation);
        LogLine(text, record, kGuiWithAddress);
        PublishStatus(*record, TEST_NONE, text);
    }
    return disks;
}

void DeviceSelection::ResetStatus()
{
    for (DeviceRecord* record : Records()) {
        PublishStatus(*record, TEST_NONE, "");
        record->percent = 0.0F;
    }
}

std::string DeviceSelection::DisksQuestion()
{
    std::string disks;
    std::string others;
    for (const DeviceRecord* record : Records()) {
        (IsDisk(*record) ? disks : others) += "\n    " + Describe(*record);
    }
    std::string text = "\nDrives:" + (disks.empty() ? std::string("\n    none") : disks);
    if (!others.empty()) {
        text += "\nNot a disk, left alone:" + others;
    }
    return text;
}
