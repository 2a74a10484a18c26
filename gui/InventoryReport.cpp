#include "gui/InventoryReport.h"

#include "frontend/DeviceQueries.h"
#include "frontend/DeviceText.h"
#include "frontend/TextFormat.h"
#include "gui/ReportQueries.h"
#include "platform/OutputFile.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::size_t kSelfTestEntryBytes = 20;

struct MakerColumns {
    std::string scsiFirmware;
    std::string servoFirmware;
    std::string powerOn;
    std::string lastSelfTest;
    std::string globalId;
};

std::string LastSelfTest(DeviceRecord& record, std::uint32_t powerOnHours)
{
    LogPageBuffer page;
    if (!ReadLogPage(record, kLogSelfTestResults, page)) {
        return "";
    }
    if (BigEndian(page.data(), 2, 2) / kSelfTestEntryBytes == 0) {
        return "DST has never been performed";
    }
    return Format("%d", static_cast<int>(powerOnHours) - static_cast<int>(BigEndian(page.data(), 10, 2)));
}

std::string GlobalId(const DeviceRecord& record)
{
    std::array<std::uint8_t, kVpdBytes> page{};
    if (!ReadVpdPage(record, 0x83, page) || page[1] != 0x83 || (page[4] & 0x0F) != 1 || (page[5] & 0x0F) != 3) {
        return "";
    }
    return Format("0x%08X%08X", static_cast<unsigned>(BigEndian(page.data(), 8, 4)),
                  static_cast<unsigned>(BigEndian(page.data(), 12, 4)));
}

MakerColumns ReadMakerColumns(DeviceRecord& record)
{
    MakerColumns columns;
    std::array<std::uint8_t, kVpdBytes> firmware{};
    if (ReadVpdPage(record, 0xC0, firmware)) {
        columns.scsiFirmware = DeviceText(firmware.data() + 4, 8);
        columns.servoFirmware = DeviceText(firmware.data() + 12, 8);
    }
    std::uint32_t minutes = 0;
    if (PowerOnMinutes(record, minutes)) {
        columns.powerOn = Format("%2.2d:%2.2d", static_cast<int>(minutes / 60), static_cast<int>(minutes % 60));
    }
    columns.lastSelfTest = LastSelfTest(record, minutes / 60);
    LogPageBuffer temperature;
    ReadLogPage(record, kLogTemperature, temperature);
    columns.globalId = GlobalId(record);
    return columns;
}

}  // namespace

std::string InventoryRow(DeviceRecord& record)
{
    DeviceIdentity identity;
    ReadIdentity(record, identity);
    std::uint64_t lastLba = 0;
    std::uint32_t blockLength = 0;
    const std::string blocks = ReadCapacity(record, lastLba, blockLength) == 0
                                   ? Format("%llu", static_cast<unsigned long long>(lastLba + 1))
                                   : "";
    std::string row = Format("%02X:%02X:%02X,%-8s,%-10s,%-8s,%-10s,%-4s,", record.hostAdapter, record.target,
                             record.lun, identity.serialNumber.c_str(), identity.product.c_str(),
                             identity.vendor.c_str(), blocks.c_str(), identity.revision.c_str());
    if (record.isKestrel != 0) {
        const MakerColumns maker = ReadMakerColumns(record);
        row += Format("%-8s,%-8s,%-8s,", maker.scsiFirmware.c_str(), maker.servoFirmware.c_str(),
                      maker.powerOn.c_str());
        if (!maker.lastSelfTest.empty()) {
            row += Format("%-8s,%-6s,", maker.lastSelfTest.c_str(), "");
        }
        if (!maker.globalId.empty()) {
            row += Format("%-16s,", maker.globalId.c_str());
        }
    }
    return row + "\n";
}

bool WriteInventory(const std::string& fileName, const std::vector<DeviceRecord*>& records, std::string* reason)
{
    const harrow::platform::OutputFile file =
        harrow::platform::OpenOutputFile(fileName, harrow::platform::OutputMode::Replace, reason);
    if (!file || std::fputs(kInventoryHeader, file.get()) < 0) {
        return false;
    }
    for (DeviceRecord* record : records) {
        if (std::fputs(InventoryRow(*record).c_str(), file.get()) < 0) {
            return false;
        }
    }
    return std::fflush(file.get()) == 0;
}
