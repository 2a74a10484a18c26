#include "cli/DeviceReport.h"

#include "cli/JsonReport.h"
#include "cli/LinuxDeviceNames.h"
#include "frontend/Capacity.h"
#include "frontend/CommandRoutine.h"
#include "frontend/DeviceQueries.h"
#include "frontend/DeviceText.h"
#include "frontend/DiskScan.h"
#include "frontend/LineLog.h"
#include "frontend/TextFormat.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr LogFlags kReportLine{false, true, true};
constexpr LogFlags kStampedLine{true, true, true};
constexpr long kShortTimeout = 2;
constexpr int kTypeDirectAccess = 0;
// The vendor's firmware numbers page of INQUIRY.
constexpr std::uint8_t kFirmwarePage = 0xC0;

void Report(const std::string& text) { LogLine(text, nullptr, kReportLine); }

// A drive behind a MegaRAID channel is listed by the address that reaches it, HA:CH:TAR:LUN.
std::string AddressText(const DeviceRecord& record)
{
    if (record.kind == KIND_CHANNEL) {
        return Format("%d:%d:%d:%d", record.hostAdapter, record.channel, record.target, record.lun);
    }
    return Format("%d:%d:%d", record.hostAdapter, record.target, record.lun);
}

// On this computer's own hosts a user knows a unit by its /dev nodes.
void ReportDevNodes(const DeviceRecord& record)
{
    const LinuxDeviceNames* names = ActiveDeviceNames();
    if (names == nullptr || record.kind != KIND_PLAIN) {
        return;
    }
    if (const LinuxUnitNodes* unit = names->AtListed(record.hostAdapter, record.target, record.lun)) {
        if (const std::string nodes = LinuxDeviceNames::NodesText(*unit); !nodes.empty()) {
            Report("    " + nodes);
        }
    }
}

bool ListDevice(const AdapterInfo& adapter, int target, int lun)
{
    const DeviceRecord record = ListedRecord(adapter, target, lun);
    int type = -1;
    DeviceIdentity identity;
    if (!GetPeripheralType(record, type) || ReadIdentity(record, identity) != 0) {
        return false;
    }
    const bool kestrel = IsKestrelDrive(record);
    CapacityReading capacity;
    capacity.read = ReadCapacity(record, capacity.lastLba, capacity.blockLength) == 0;
    const bool ready = SendNoDataCommand(record, cdb::TestUnitReady(), kShortTimeout) == 0;
    Report(Format("  %s %-8s %-9s %-17s %-9s %-8s", AddressText(record).c_str(), TypeName(type),
                  identity.vendor.c_str(), identity.product.c_str(), identity.revision.c_str(),
                  kestrel ? identity.serialNumber.c_str() : ""));
    ReportDevNodes(record);
    if (JsonReport* json = ActiveJson()) {
        json->AddListedDevice(record, type, identity, kestrel, capacity, ready);
    }
    return true;
}

// LUNs 0-7 of the target, then those past them that it reports.
bool ListTarget(const AdapterInfo& adapter, int target)
{
    int answered = -1;
    for (int lun = 0; lun < kProbedLuns; ++lun) {
        if (ListDevice(adapter, target, lun) && answered < 0) {
            answered = lun;
        }
    }
    if (answered < 0) {
        return false;
    }
    for (int lun : ReportedLunsBeyondProbe(ListedRecord(adapter, target, answered))) {
        ListDevice(adapter, target, lun);
    }
    return true;
}

std::string BytesText(const std::uint8_t* bytes, std::size_t from, std::size_t count)
{
    return DeviceText(bytes + from, count);
}

void ReportFirmware(DeviceRecord& record)
{
    std::array<std::uint8_t, 0x80> page{};
    if (!SendCdb(record, cdb::InquiryPage(kFirmwarePage, 0x80), page.data(), static_cast<std::uint32_t>(page.size()),
                 kShortTimeout)
             .Good()) {
        page.fill(0);
    }
    Report(Format("\tSCSI Firmware = %s", BytesText(page.data(), 4, 8).c_str()));
    Report(Format("\tServo RAM Release = %s", BytesText(page.data(), 12, 8).c_str()));
    Report(Format("\tServo ROM Release = %s", BytesText(page.data(), 20, 8).c_str()));
    Report(Format("\tServo RAM Date = %s", BytesText(page.data(), 28, 4).c_str()));
    Report(Format("\tServo ROM Date = %s\n", BytesText(page.data(), 32, 4).c_str()));
    if (JsonReport* json = ActiveJson()) {
        json->SetInquiryText("scsiFirmware", BytesText(page.data(), 4, 8));
        json->SetInquiryText("servoRamRelease", BytesText(page.data(), 12, 8));
        json->SetInquiryText("servoRomRelease", BytesText(page.data(), 20, 8));
        json->SetInquiryText("servoRamDate", BytesText(page.data(), 28, 4));
        json->SetInquiryText("servoRomDate", BytesText(page.data(), 32, 4));
    }
}

void ReportCapacity(const DeviceRecord& record, int type)
{
    CapacityReading capacity;
    capacity.read = ReadCapacity(record, capacity.lastLba, capacity.blockLength) == 0;
    if (JsonReport* json = ActiveJson()) {
        json->SetCapacity(type, capacity);
    }
    if (capacity.read) {
        Report(Format("\tBlocksize = %ld, Highblock = %ld, Capacity = %0.0f MB",
                      static_cast<long>(capacity.blockLength), static_cast<long>(capacity.lastLba),
                      CapacityMegabytes(capacity.lastLba, capacity.blockLength)));
        return;
    }
    const SenseView sense(LastSense());
    Report(Format("\t-Cannot read capacity  (Sense data = %2.2X/%2.2X/%2.2X)", sense.Key(), sense.Asc(),
                  sense.Ascq()));
}

// Bytes of the mode reply as ModeSensePage hands them out (from reply offset 8).
constexpr std::size_t kModeCopyBytes = kModeReplyBytes - kModeReplySkip;
// Where the page starts in that copy: after the 4-byte header and one block descriptor.
constexpr std::size_t kPageInCopy = 12 - kModeReplySkip;
// The long self-test time, bytes 30 and 31 of the reply.
constexpr std::size_t kLongDstInCopy = 30 - kModeReplySkip;
constexpr int kControlPage = 0x0A;

void ReportDst(DeviceRecord& record)
{
    if (!IsDstSupported(record)) {
        Report("\t-this drive does not support DST");
        if (JsonReport* json = ActiveJson()) {
            json->SetDst(false, 0);
        }
        return;
    }
    Report("\t-this drive supports DST");
    std::array<std::uint8_t, kModeCopyBytes> copy{};
    ModeSensePage(record, kControlPage, copy.data(), copy.size(), kPageCurrent);
    const int longSeconds = (copy[kLongDstInCopy] << 8) | copy[kLongDstInCopy + 1];
    Report("\t\t-short DST time = 120 seconds");
    Report(Format("\t\t-long DST time = %d seconds", longSeconds));
    if (JsonReport* json = ActiveJson()) {
        json->SetDst(true, longSeconds);
    }
}

constexpr std::uint8_t kNotRead = 0xFF;

// One mode-page field, current and default.
struct Setting {
    std::uint8_t current = kNotRead;
    std::uint8_t fallback = kNotRead;  // the default value
};

struct ModeSettings {
    Setting wce, rcd, awre, arre, dexcpt, segments, pm, dlm, dtoli;
    std::array<Setting, 4> jit;
};

std::uint8_t& Slot(Setting& setting, int pageControl)
{
    return pageControl == kPageCurrent ? setting.current : setting.fallback;
}

std::uint8_t Bit(std::uint8_t byte, int bit) { return static_cast<std::uint8_t>((byte >> bit) & 1); }

void ReadPageFields(DeviceRecord& record, int pageCode, int pageControl, ModeSettings& settings)
{
    std::array<std::uint8_t, kModeCopyBytes> copy{};
    if (ModeSensePage(record, pageCode, copy.data(), copy.size(), pageControl) != 0) {
        return;
    }
    const std::uint8_t* page = copy.data() + kPageInCopy;
    switch (pageCode) {
    case 0x08:
        Slot(settings.wce, pageControl) = Bit(page[2], 2);
        Slot(settings.rcd, pageControl) = Bit(page[2], 0);
        Slot(settings.segments, pageControl) = page[13];
        break;
    case 0x00:
        Slot(settings.pm, pageControl) = Bit(page[2], 7);
        if (page[1] > 3) {
            for (int bit = 0; bit < 4; ++bit) {
                Slot(settings.jit[static_cast<std::size_t>(bit)], pageControl) = Bit(page[4], bit);
            }
        }
        break;
    case 0x01:
        Slot(settings.awre, pageControl) = Bit(page[2], 7);
        Slot(settings.arre, pageControl) = Bit(page[2], 6);
        break;
    case 0x1C:
        Slot(settings.dexcpt, pageControl) = Bit(page[2], 3);
        break;
    case 0x19:
        Slot(settings.dlm, pageControl) = Bit(page[3], 4);
        Slot(settings.dtoli, pageControl) = Bit(page[3], 0);
        break;
    default:
        break;
    }
}

void ReportModeJson(const ModeSettings& settings)
{
    JsonReport* json = ActiveJson();
    if (json == nullptr) {
        return;
    }
    json->SetModeField("wce", settings.wce.current, settings.wce.fallback);
    json->SetModeField("rcd", settings.rcd.current, settings.rcd.fallback);
    json->SetModeField("awre", settings.awre.current, settings.awre.fallback);
    json->SetModeField("arre", settings.arre.current, settings.arre.fallback);
    json->SetModeField("dexcpt", settings.dexcpt.current, settings.dexcpt.fallback);
    json->SetModeField("cacheSegments", settings.segments.current, settings.segments.fallback);
    json->SetModeField("pm", settings.pm.current, settings.pm.fallback);
    json->SetModeField("dlm", settings.dlm.current, settings.dlm.fallback);
    json->SetModeField("dtoli", settings.dtoli.current, settings.dtoli.fallback);
    for (std::size_t bit = 0; bit < settings.jit.size(); ++bit) {
        const std::string field = "jit" + std::to_string(bit);
        json->SetModeField(field.c_str(), settings.jit[bit].current, settings.jit[bit].fallback);
    }
}

void ReportModePages(DeviceRecord& record)
{
    ModeSettings settings;
    for (const int pageControl : {kPageCurrent, kPageDefault}) {
        for (const int pageCode : {0x08, 0x00, 0x01, 0x1C, 0x19}) {
            ReadPageFields(record, pageCode, pageControl, settings);
        }
    }
    ReportModeJson(settings);
    Report("\t-Mode Page Settings [current value (default)]:");
    Report(Format("\t\t-WCE bit = %X (%X)", settings.wce.current, settings.wce.fallback));
    Report(Format("\t\t-RCD bit = %X (%X)", settings.rcd.current, settings.rcd.fallback));
    Report(Format("\t\t-AWRE bit = %X (%X)", settings.awre.current, settings.awre.fallback));
    Report(Format("\t\t-ARRE bit = %X (%X)", settings.arre.current, settings.arre.fallback));
    Report(Format("\t\t-DExcpt bit = %X (%X)", settings.dexcpt.current, settings.dexcpt.fallback));
    Report(Format("\t\t-Number of cache segments = %d (%d)", settings.segments.current, settings.segments.fallback));
    Report(Format("\t\t-PM  bit = %X (%X)", settings.pm.current, settings.pm.fallback));
    if (settings.dlm.current != kNotRead) {
        Report(Format("\t\t-DLM bit = %X (%X)", settings.dlm.current, settings.dlm.fallback));
        Report(Format("\t\t-DTOLI bit = %X (%x)", settings.dtoli.current, settings.dtoli.fallback));
    }
    if (settings.jit[0].current != kNotRead) {
        for (int bit = 0; bit < 4; ++bit) {
            const Setting& jit = settings.jit[static_cast<std::size_t>(bit)];
            Report(Format(bit == 3 ? "\t\t-JIT bit %d = %d (%d)\n" : "\t\t-JIT bit %d = %d (%d)", bit, jit.current,
                          jit.fallback));
        }
    }
}

}  // namespace

int ListDevices()
{
    LogLine("Device(s) found during bus scan:", nullptr, kStampedLine);
    AdapterInfo info;
    GetAdapterInfo(0, info);
    const long adapters = info.adapterCount;
    bool anyDevice = false;
    for (int adapter = 0; adapter < adapters; ++adapter) {
        RescanAdapter(adapter);
        GetAdapterInfo(adapter, info);
        Report(Format("SCSI Port %d SCSI ID: %d %s %s", info.number, info.scsiId, info.aspiString.c_str(),
                      info.adapterString.c_str()));
        if (JsonReport* json = ActiveJson()) {
            json->AddAdapter(info);
        }
        const int targets = TargetsToProbe(info.block[kAdapterBlockDevices]);
        for (int target = 0; target < targets; ++target) {
            anyDevice = ListTarget(info, target) || anyDevice;
        }
    }
    if (!anyDevice) {
        LogLine("No HBA has been detected", nullptr, kStampedLine);
        return 1;
    }
    return 0;
}

int InquiryReport(DeviceRecord record)
{
    SendNoDataCommand(record, cdb::TestUnitReady(), kShortTimeout);
    std::array<std::uint8_t, kIdentityBytes> copy{};
    DeviceIdentity identity;
    if (ReadIdentity(record, identity, copy.data()) != 0) {
        Report("Device Failed Inquiry No Sense Data");
        return 1;
    }
    Report(Format("\tDevice = %s\n\tVendor = %s \n\tProduct = %s \n\tVersion = %s\n\tSerial Number = %s",
                  FormatDeviceAddress(record).c_str(), identity.vendor.c_str(), identity.product.c_str(),
                  identity.revision.c_str(), identity.serialNumber.c_str()));
    record.isKestrel = IsKestrelDrive(record) ? 1 : 0;
    JsonReport* json = ActiveJson();
    if (json != nullptr) {
        json->SetIdentity(identity, record.isKestrel != 0);
    }
    if (record.isKestrel != 0) {
        const std::string copyright = DeviceText(copy.data() + 97, 47);
        Report(Format("\tCopyright = %s", copyright.c_str()));
        if (json != nullptr) {
            json->SetInquiryText("copyright", copyright);
        }
        ReportFirmware(record);
    }
    int type = -1;
    // By the record, so a drive behind a RAID controller reports its capacity too.
    const bool typed = GetPeripheralType(record, type);
    if (typed && type == kTypeDirectAccess) {
        ReportCapacity(record, type);
    } else if (typed && json != nullptr) {
        json->SetCapacity(type, CapacityReading{});
    }
    if (record.isKestrel != 0) {
        Report("\t-this is a Kestrel drive");
        ReportDst(record);
        ReportModePages(record);
    }
    return 0;
}
