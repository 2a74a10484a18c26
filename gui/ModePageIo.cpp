#include "gui/ModePageIo.h"

#include "frontend/CommandRoutine.h"
#include "frontend/TextFormat.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr long kSenseTimeoutSeconds = 2;
constexpr long kSelectTimeoutSeconds = 30;
constexpr std::size_t kReplyBytes = 255;
constexpr std::size_t kReplySkip = 8;

void KeepSense(DeviceRecord& record, const CdbAnswer& answer)
{
    std::memcpy(record.sense.data(), answer.Sense(), record.sense.size());
}

}  // namespace

bool ReadPreferencePage(DeviceRecord& record, int pageCode, int pageControl, WorkingPage& page, std::size_t count)
{
    std::array<std::uint8_t, kReplyBytes> reply{};
    const CdbAnswer answer = SendCdb(record, cdb::ModeSense6(pageCode, pageControl, kReplyBytes), reply.data(),
                                     reply.size(), kSenseTimeoutSeconds);
    if (!answer.Good()) {
        KeepSense(record, answer);
        return false;
    }
    std::memcpy(page.Data(), reply.data() + kReplySkip, std::min({count, kReplyBytes - kReplySkip, WorkingPage::kCapacity}));
    return true;
}

int ModeSelectPage(DeviceRecord& record, WorkingPage& page, std::size_t length)
{
    std::memset(page.Data(), 0, WorkingPage::kPageStart);
    length = std::min(length, WorkingPage::kCapacity);
    const CdbAnswer answer = SendCdb(record, cdb::ModeSelect6(static_cast<std::uint8_t>(length), true, true),
                                     page.Data(), static_cast<std::uint32_t>(length), kSelectTimeoutSeconds);
    if (!answer.Good()) {
        KeepSense(record, answer);
        return answer.outcome != 0 ? answer.outcome : 1;
    }
    return 0;
}

std::string SenseValues(const DeviceRecord& record)
{
    const SenseView sense(record.sense);
    if (sense.Fru() != 0) {
        return Format("%2.2X / %2.2X / %2.2X FRU Code %2.2X", sense.KeyByte(), sense.Asc(), sense.Ascq(), sense.Fru());
    }
    return Format("%2.2X / %2.2X / %2.2X", sense.KeyByte(), sense.Asc(), sense.Ascq());
}
