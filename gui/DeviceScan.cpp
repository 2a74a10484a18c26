#include "gui/DeviceScan.h"

#include "frontend/Capacity.h"
#include "frontend/TextFormat.h"
#include "gui/GuiLog.h"
#include "gui/LogFolder.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace {

constexpr long kShortTimeout = 2;
// Probed behind a RAID controller: its channels and their targets.
constexpr int kRaidChannels = 2;
constexpr int kRaidTargets = 16;

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// What the device tree shows after the identity: capacity when READ CAPACITY
// answered, then readiness.
struct Probe {
    bool haveCapacity = false;
    long megabytes = 0;
    const char* readiness = "Off Line";
};

Probe ProbeDevice(const DeviceRecord& record)
{
    Probe probe;
    std::uint64_t lastLba = 0;
    std::uint32_t blockLength = 0;
    if (ReadCapacity(record, lastLba, blockLength) == 0) {
        probe.haveCapacity = true;
        // The number the console program's report prints for the same drive.
        probe.megabytes = RoundedMegabytes(lastLba, blockLength);
    }
    if (SendNoDataCommand(record, cdb::TestUnitReady(), kShortTimeout) == 0) {
        probe.readiness = "On Line";
    }
    return probe;
}

std::string SerialOf(const ScannedDevice& device)
{
    return device.record.isKestrel != 0 ? device.identity.serialNumber : "";
}

// IDE channels name their devices by target alone.
std::string IdeText(const ScannedDevice& device, const Probe& probe)
{
    const DeviceIdentity& id = device.identity;
    if (probe.haveCapacity) {
        return Format("Target: %d %s %s, Version: %s  Capacity = %ld MB %s", device.record.target, id.vendor.c_str(),
                      id.product.c_str(), id.revision.c_str(), probe.megabytes, probe.readiness);
    }
    return Format("Target: %d %s %s, Version: %s %s", device.record.target, id.vendor.c_str(), id.product.c_str(),
                  id.revision.c_str(), probe.readiness);
}

std::string ScsiText(const ScannedDevice& device, const Probe& probe)
{
    const DeviceIdentity& id = device.identity;
    const DeviceRecord& r = device.record;
    const std::string serial = SerialOf(device);
    if (probe.haveCapacity) {
        return Format("%s%d:%d:%d %s %s Version: %s %s  Capacity = %ld MB %s", device.typeName.c_str(), r.hostAdapter,
                      r.target, r.lun, id.vendor.c_str(), id.product.c_str(), id.revision.c_str(), serial.c_str(),
                      probe.megabytes, probe.readiness);
    }
    return Format("%s%d:%d:%d %s %s Version: %s %s %s", device.typeName.c_str(), r.hostAdapter, r.target, r.lun,
                  id.vendor.c_str(), id.product.c_str(), id.revision.c_str(), serial.c_str(), probe.readiness);
}

std::string RaidText(const ScannedDevice& device, const Probe& probe)
{
    const DeviceIdentity& id = device.identity;
    const DeviceRecord& r = device.record;
    const std::string serial = SerialOf(device);
    if (probe.haveCapacity) {
        return Format("%s%d:%d:%d:%d %s %s Version: %s %s  Capacity = %ld MB %s", device.typeName.c_str(),
                      r.hostAdapter, r.channel, r.target, r.lun, id.vendor.c_str(), id.product.c_str(),
                      id.revision.c_str(), serial.c_str(), probe.megabytes, probe.readiness);
    }
    return Format("%s%d:%d:%d:%d %s %s Version: %s %s %s", device.typeName.c_str(), r.hostAdapter, r.channel,
                  r.target, r.lun, id.vendor.c_str(), id.product.c_str(), id.revision.c_str(), serial.c_str(),
                  probe.readiness);
}

void TrimRight(std::string& text)
{
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
}

// Identity and maker test of the device at the record's address; false when absent.
bool Identify(ScannedDevice& device)
{
    if (ReadIdentity(device.record, device.identity) != 0) {
        return false;
    }
    // The fields come padded to their INQUIRY widths, which a tree line does not need.
    for (std::string* field : {&device.identity.vendor, &device.identity.product, &device.identity.revision,
                               &device.identity.serialNumber}) {
        TrimRight(*field);
    }
    device.record.isKestrel = IsKestrelDrive(device.record) ? 1 : 0;
    // The per-device log file is named after the drive's serial number.
    device.record.logName = device.record.isKestrel != 0 ? InLogFolder(device.identity.serialNumber) : "";
    return true;
}

// The device at (adapter, target, lun) with its tree text; false when absent.
bool ScanLun(int adapter, int target, int lun, bool ide, std::vector<ScannedDevice>& found)
{
    ScannedDevice device;
    device.record.hostAdapter = adapter;
    device.record.target = target;
    device.record.lun = lun;
    int type = -1;
    if (!GetPeripheralType(adapter, target, lun, type) || !Identify(device)) {
        return false;
    }
    device.typeName = TypeName(type);
    device.peripheralType = type;
    const Probe probe = ProbeDevice(device.record);
    device.text = ide ? IdeText(device, probe) : ScsiText(device, probe);
    found.push_back(std::move(device));
    return true;
}

// LUNs 0-7 of every target, then those past them that a target reports.
std::vector<ScannedDevice> ScanTargets(int adapter, int targets, bool ide)
{
    std::vector<ScannedDevice> found;
    for (int target = 0; target < targets; ++target) {
        const std::size_t first = found.size();
        for (int lun = 0; lun < kProbedLuns; ++lun) {
            ScanLun(adapter, target, lun, ide, found);
        }
        if (found.size() == first) {
            continue;
        }
        const DeviceRecord answered = found[first].record;
        for (int lun : ReportedLunsBeyondProbe(answered)) {
            ScanLun(adapter, target, lun, ide, found);
        }
    }
    return found;
}

// The drives of one MegaRAID channel adapter, addressed HA:CH:TAR:LUN.
ScannedChannel ScanChannelAdapter(const AdapterInfo& info)
{
    ScannedChannel item{Format("Channel %d", info.channel), {}};
    for (int target = 0; target < TargetsToProbe(info.block[kAdapterBlockDevices]); ++target) {
        ScannedDevice device;
        device.record.kind = KIND_CHANNEL;
        device.record.hostAdapter = info.number;
        device.record.channel = info.channel;
        device.record.target = target;
        device.record.lun = 0;
        int type = -1;
        if (!GetPeripheralType(device.record, type) || !Identify(device)) {
            continue;
        }
        device.typeName = TypeName(type);
        device.peripheralType = type;
        device.text = RaidText(device, ProbeDevice(device.record));
        item.devices.push_back(std::move(device));
    }
    return item;
}

// The channel adapters the core made for the controller on port `number`, in adapter order.
std::vector<ScannedChannel> ScanChannelAdapters(int number, long adapterCount)
{
    std::vector<ScannedChannel> channels;
    for (int adapter = 0; adapter < adapterCount; ++adapter) {
        AdapterInfo info;
        if (GetAdapterInfo(adapter, info) == 1 && info.channel >= 0 && info.number == number) {
            RescanAdapter(adapter);
            channels.push_back(ScanChannelAdapter(info));
        }
    }
    return channels;
}

std::vector<ScannedChannel> ScanRaidChannels(int adapter)
{
    std::vector<ScannedChannel> channels;
    for (int channel = 0; channel < kRaidChannels; ++channel) {
        ScannedChannel item{Format("Channel %d", channel), {}};
        for (int target = 0; target < kRaidTargets; ++target) {
            ScannedDevice device;
            device.record.kind = KIND_RAID;
            device.record.hostAdapter = adapter;
            device.record.channel = channel;
            device.record.target = target;
            device.record.lun = 0;
            if (!Identify(device)) {
                continue;
            }
            device.typeName = TypeName(0);
            device.peripheralType = 0;
            device.text = RaidText(device, ProbeDevice(device.record));
            item.devices.push_back(std::move(device));
        }
        channels.push_back(std::move(item));
    }
    return channels;
}

void LogFound(const std::vector<ScannedDevice>& devices, const char* indent)
{
    for (const ScannedDevice& device : devices) {
        LogLine(indent + device.text, nullptr, kGuiStamped);
    }
}

// The log names every adapter and device the tree shows, in tree order.
void LogFound(const std::vector<ScannedAdapter>& adapters)
{
    for (const ScannedAdapter& adapter : adapters) {
        LogLine(adapter.text, nullptr, kGuiStamped);
        LogFound(adapter.devices, "    ");
        for (const ScannedChannel& channel : adapter.channels) {
            LogLine("    " + channel.text, nullptr, kGuiStamped);
            LogFound(channel.devices, "        ");
        }
    }
}

bool SameAddress(const DeviceRecord& a, const DeviceRecord& b)
{
    return a.kind == b.kind && a.hostAdapter == b.hostAdapter && a.channel == b.channel && a.target == b.target &&
           a.lun == b.lun;
}

}  // namespace

std::string AdapterText(int adapter, bool& raid)
{
    AdapterInfo info;
    GetAdapterInfo(adapter, info);
    raid = Lower(info.aspiString + " " + info.adapterString).find("mraid35x") != std::string::npos;
    return Format(raid ? "RAID Controller Port %d SCSI ID: %d %s %s" : "SCSI Port %d SCSI ID: %d %s %s", adapter,
                  info.scsiId, info.aspiString.c_str(), info.adapterString.c_str());
}

std::vector<ScannedAdapter> ScanDevices()
{
    LogStamped("Device(s) found during bus scan:");
    AdapterInfo info;
    GetAdapterInfo(0, info);
    std::vector<ScannedAdapter> adapters;
    const long adapterCount = info.adapterCount;
    for (int adapter = 0; adapter < adapterCount; ++adapter) {
        GetAdapterInfo(adapter, info);
        if (info.channel >= 0) {
            continue;  // a MegaRAID channel: shown under its controller
        }
        RescanAdapter(adapter);
        ScannedAdapter item;
        item.text = AdapterText(adapter, item.raid);
        GetAdapterInfo(adapter, info);
        const std::string names = Lower(info.aspiString + " " + info.adapterString);
        const bool ide = names.find("atapi") != std::string::npos || names.find("esdi") != std::string::npos;
        if (item.raid) {
            // Through the RAID plug-in each channel is an adapter of the core; else the tunnel.
            item.channels = ScanChannelAdapters(info.number, adapterCount);
            if (item.channels.empty()) {
                item.channels = ScanRaidChannels(adapter);
            }
        } else {
            item.devices = ScanTargets(adapter, TargetsToProbe(info.block[kAdapterBlockDevices]), ide);
        }
        adapters.push_back(std::move(item));
    }
    LogFound(adapters);
    return adapters;
}

bool ReprobeDevice(ScannedDevice& device, bool raidChannel)
{
    const bool ide = device.text.rfind("Target: ", 0) == 0;
    if (!Identify(device)) {
        return false;
    }
    const Probe probe = ProbeDevice(device.record);
    device.text = raidChannel ? RaidText(device, probe) : ide ? IdeText(device, probe) : ScsiText(device, probe);
    return true;
}

const ScannedDevice* FindScanned(const std::vector<ScannedAdapter>& scan, const DeviceRecord& record)
{
    for (const ScannedAdapter& adapter : scan) {
        for (const ScannedDevice& device : adapter.devices) {
            if (SameAddress(device.record, record)) {
                return &device;
            }
        }
        for (const ScannedChannel& channel : adapter.channels) {
            for (const ScannedDevice& device : channel.devices) {
                if (SameAddress(device.record, record)) {
                    return &device;
                }
            }
        }
    }
    return nullptr;
}
