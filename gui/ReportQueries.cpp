#include "gui/ReportQueries.h"

#include "core/types/ByteOrder.h"
#include "frontend/CommandRoutine.h"
#include "gui/GuiLog.h"
#include "gui/ModePageIo.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr long kLogTimeoutSeconds = 30;
constexpr long kVpdTimeoutSeconds = 2;

}  // namespace

bool ReadLogPage(DeviceRecord& record, int pageCode, LogPageBuffer& page)
{
    page.fill(0);
    const CdbAnswer answer = SendCdb(record, cdb::LogSense(pageCode, kLogCumulative, kLogPageBytes), page.data(),
                                     kLogPageBytes, kLogTimeoutSeconds);
    if (answer.Good()) {
        return true;
    }
    std::memcpy(record.sense.data(), answer.Sense(), record.sense.size());
    record.state = TEST_FAILED;
    LogLine("Log Sense Failed: " + SenseValues(record), &record, kGuiWithAddress);
    return false;
}

std::uint64_t BigEndian(const std::uint8_t* bytes, std::size_t at, std::size_t width)
{
    std::uint64_t value = 0;
    grab_bytes(bytes + at, static_cast<int>(std::min<std::size_t>(width, sizeof value)), &value, sizeof value);
    return value;
}

bool PowerOnMinutes(DeviceRecord& record, std::uint32_t& minutes)
{
    LogPageBuffer page;
    if (!ReadLogPage(record, kLogPowerOnTime, page)) {
        return false;
    }
    // The first parameter's value; a longer one than a minute count keeps its low bytes.
    const std::size_t length = std::min<std::size_t>(page[7], sizeof minutes);
    minutes = static_cast<std::uint32_t>(BigEndian(page.data(), 8 + page[7] - length, length));
    return true;
}

bool ReadVpdPage(const DeviceRecord& record, int pageCode, std::array<std::uint8_t, kVpdBytes>& page)
{
    page.fill(0);
    return SendCdb(record, cdb::InquiryPage(static_cast<std::uint8_t>(pageCode), kVpdBytes), page.data(), kVpdBytes,
                   kVpdTimeoutSeconds)
        .Good();
}
