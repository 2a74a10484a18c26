#include "gui/GrownDefectReport.h"

#include "frontend/CommandRoutine.h"
#include "frontend/DeviceText.h"
#include "frontend/LineLog.h"
#include "frontend/TextFormat.h"
#include "gui/ReportQueries.h"
#include "platform/OutputFile.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr std::uint32_t kDefectBytes = 0xFFFF;
constexpr long kDefectTimeoutSeconds = 2;
constexpr std::size_t kDescriptorBytes = 8;

struct DefectList {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kDefectBytes, 0);
    std::size_t header = 0;
    std::size_t count = 0;

    // "cylinder:head:value" of descriptor n, "" past the list.
    std::string Entry(std::size_t n) const
    {
        if (n >= count) {
            return "";
        }
        const std::uint8_t* at = bytes.data() + header + n * kDescriptorBytes;
        return Format("%d:%d:%u", static_cast<int>(BigEndian(at, 0, 3)), at[3],
                      static_cast<unsigned>(BigEndian(at, 4, 4)));
    }
};

// The grown list (GLIST) in the given list format.
bool ReadDefects(const DeviceRecord& record, bool twelve, int listFormat, DefectList& list)
{
    const Cdb cdb = twelve ? cdb::ReadDefectData12(false, true, listFormat, kDefectBytes)
                           : cdb::ReadDefectData10(false, true, listFormat, kDefectBytes);
    const CdbAnswer answer = SendCdb(record, cdb, list.bytes.data(), kDefectBytes, kDefectTimeoutSeconds);
    if (!answer.Good()) {
        return false;
    }
    list.header = twelve ? 8 : 4;
    const std::uint64_t length = twelve ? BigEndian(list.bytes.data(), 4, 4) : BigEndian(list.bytes.data(), 2, 2);
    // A list longer than the answer is cut to the descriptors received.
    list.count = static_cast<std::size_t>(std::min<std::uint64_t>(length, kDefectBytes - list.header)) /
                 kDescriptorBytes;
    return true;
}

bool ReadBothLists(const DeviceRecord& record, DefectList& index, DefectList& sector)
{
    for (const bool twelve : {true, false}) {
        if (ReadDefects(record, twelve, kDefectBytesFromIndex, index) &&
            ReadDefects(record, twelve, kDefectPhysicalSector, sector)) {
            return true;
        }
    }
    return false;
}

std::string SerialNumber(const DeviceRecord& record)
{
    std::array<std::uint8_t, kVpdBytes> page{};
    if (!ReadVpdPage(record, 0x80, page)) {
        return "";
    }
    const std::size_t length = std::min<std::size_t>(page[3], kVpdBytes - 4);
    std::string serial = DeviceText(page.data() + 4, length);
    // A serial number names a file: it keeps no path separator and no trailing blanks.
    std::replace(serial.begin(), serial.end(), '/', '_');
    serial.erase(serial.find_last_not_of(' ') + 1);
    return serial;
}

}  // namespace

std::string AppendGrownDefectReport(const DeviceRecord& record, const std::string& folder,
                                    const std::optional<std::string>& temperature)
{
    const std::string serial = SerialNumber(record);
    if (serial.empty()) {
        return "";
    }
    const std::string fileName = folder + serial + ".log";
    std::string reason;
    const harrow::platform::OutputFile file =
        harrow::platform::OpenOutputFile(fileName, harrow::platform::OutputMode::Append, &reason);
    if (!file) {
        std::fprintf(stderr, "harrow: %s: %s\n", fileName.c_str(), reason.c_str());
        return "";
    }
    const std::string date = TimeStamp("%d-%b-%Y");
    const std::string time = TimeStamp("%H:%M:%S");
    if (temperature) {
        std::fprintf(file.get(), "%s %s  Current Drive Temperature = %s\n", date.c_str(), time.c_str(),
                     temperature->c_str());
    } else {
        std::fprintf(file.get(), "%s %s\n", date.c_str(), time.c_str());
    }
    DefectList index;
    DefectList sector;
    if (!ReadBothLists(record, index, sector)) {
        return "";
    }
    if (index.count == 0) {
        std::fputs("No grown defects\n", file.get());
        return fileName;
    }
    std::fputs("#     C:H:BFI             C:H:S\n", file.get());
    for (std::size_t n = 0; n < index.count; ++n) {
        std::fprintf(file.get(), "%-6zu%-20s%-20s\n", n + 1, index.Entry(n).c_str(), sector.Entry(n).c_str());
    }
    return fileName;
}
