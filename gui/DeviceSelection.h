#pragma once

#include "frontend/DeviceQueries.h"
#include "frontend/DeviceRecord.h"

#include <array>
#include <cstddef>
#include <string>
#include <vector>

// What the bus scan learnt of a device besides its record.
struct DeviceFacts {
    int peripheralType = -1;
    DeviceIdentity identity;
};

// The program-wide selection: ticked devices in tree order, closed by an
// entry whose host adapter, target and LUN are 9.
class DeviceSelection {
public:
    static constexpr std::size_t kCapacity = 249;
    static constexpr std::int32_t kEndNumber = 9;

    DeviceSelection();

    // Copies the ticked records in order, each with its facts when given;
    // returns how many did not fit.
    std::size_t Build(const std::vector<const DeviceRecord*>& ticked, const std::vector<DeviceFacts>& facts = {});

    // The entries before the end marker.
    std::vector<DeviceRecord*> Records();
    const DeviceRecord& Entry(std::size_t index) const { return m_entries.at(index); }
    bool Empty() { return Records().empty(); }

    static bool IsEndMarker(const DeviceRecord& record);

    // The facts of a record of this selection.
    const DeviceFacts& FactsOf(const DeviceRecord& record) const;
    // A direct-access device (SBC): the only kind that is formatted, dumped or tested.
    bool IsDisk(const DeviceRecord& record) const;
    // "Port:0 Target:2 Lun:0  MERIDIAN MD3600LW serial GEN00002": which drive, for a question.
    std::string Describe(const DeviceRecord& record) const;
    // The disks of the selection; every other device is logged as skipped by the operation.
    std::vector<DeviceRecord*> DisksFor(const char* operation);
    // A new run: no status line tells of an earlier one.
    void ResetStatus();

    // For a question before destructive work: "\nDrives:" and each disk, then
    // the devices that are not disks and are left alone.
    std::string DisksQuestion();

private:
    std::size_t IndexOf(const DeviceRecord& record) const;

    std::array<DeviceRecord, kCapacity + 1> m_entries;
    std::array<DeviceFacts, kCapacity + 1> m_facts;
};
