#include "core/transport/NTPortBusList.h"

#include "platform/ntddscsi.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace {

template <class T>
T ReadAt(const BYTE* data, std::size_t offset)
{
    T value;
    std::memcpy(&value, data + offset, sizeof value);
    return value;
}

bool Fits(std::size_t offset, std::size_t length, std::size_t size)
{
    return offset <= size && length <= size - offset;
}

NTPortUnit_s ReadUnit(const BYTE* data, std::size_t size, std::size_t offset)
{
    // Only the header: the inquiry bytes after it may be fewer than the
    // structure's one-byte placeholder suggests.
    SCSI_INQUIRY_DATA entry{};
    std::memcpy(&entry, data + offset, offsetof(SCSI_INQUIRY_DATA, InquiryData));
    NTPortUnit_s unit;
    unit.PathId = entry.PathId;
    unit.TargetId = entry.TargetId;
    unit.Lun = entry.Lun;
    unit.Claimed = entry.DeviceClaimed != 0;
    const std::size_t start = offset + offsetof(SCSI_INQUIRY_DATA, InquiryData);
    const std::size_t available = std::min<std::size_t>(entry.InquiryDataLength, size - start);
    std::memcpy(unit.Inquiry.data(), data + start, std::min(available, unit.Inquiry.size()));
    return unit;
}

void ReadChain(const BYTE* data, std::size_t size, ULONG first, std::vector<NTPortUnit_s>& units)
{
    std::set<ULONG> visited;
    ULONG offset = first;
    while (offset != 0 && Fits(offset, offsetof(SCSI_INQUIRY_DATA, InquiryData), size) &&
           visited.insert(offset).second) {
        units.push_back(ReadUnit(data, size, offset));
        offset = ReadAt<ULONG>(data, offset + offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset));
    }
}

}  // namespace

NTPortBusList_s ParseBusList(const BYTE* data, std::size_t size)
{
    NTPortBusList_s list;
    if (data == nullptr || size < offsetof(SCSI_ADAPTER_BUS_INFO, BusData)) {
        return list;
    }
    const std::size_t reported = data[offsetof(SCSI_ADAPTER_BUS_INFO, NumberOfBuses)];
    for (std::size_t bus = 0; bus < reported; ++bus) {
        const std::size_t at = offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + bus * sizeof(SCSI_BUS_DATA);
        if (!Fits(at, sizeof(SCSI_BUS_DATA), size)) {
            break;
        }
        const auto busData = ReadAt<SCSI_BUS_DATA>(data, at);
        list.Buses.push_back({busData.NumberOfLogicalUnits, busData.InitiatorBusId});
        ReadChain(data, size, busData.InquiryDataOffset, list.Units);
    }
    return list;
}
