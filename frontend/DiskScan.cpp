#include "frontend/DiskScan.h"

namespace {

constexpr int MAX_LUNS = 8;
constexpr int kTypeDirectAccess = 0;

}  // namespace

DeviceRecord ListedRecord(const AdapterInfo& adapter, int target, int lun)
{
    DeviceRecord record;
    record.kind = adapter.channel >= 0 ? KIND_CHANNEL : KIND_PLAIN;
    record.hostAdapter = adapter.number;
    record.channel = adapter.channel >= 0 ? adapter.channel : record.channel;
    record.target = target;
    record.lun = lun;
    return record;
}

std::vector<DeviceRecord> ListedDisks()
{
    std::vector<DeviceRecord> disks;
    AdapterInfo info;
    if (GetAdapterInfo(0, info) == kNoSystem) {
        return disks;
    }
    const long adapters = info.adapterCount;
    for (int adapter = 0; adapter < adapters; ++adapter) {
        if (GetAdapterInfo(adapter, info) != 1) {
            continue;
        }
        const int targets = TargetsToProbe(info.block[kAdapterBlockDevices]);
        for (int target = 0; target < targets; ++target) {
            for (int lun = 0; lun < MAX_LUNS; ++lun) {
                const DeviceRecord record = ListedRecord(info, target, lun);
                int type = -1;
                if (GetPeripheralType(record, type) && type == kTypeDirectAccess) {
                    disks.push_back(record);
                }
            }
        }
    }
    return disks;
}
