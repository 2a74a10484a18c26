#include "gui/FormatCommands.h"

#include "frontend/DeviceQueries.h"
#include "frontend/TextFormat.h"
#include "gui/GuiLog.h"
#include "gui/SenseCodes.h"
#include "platform/Kernel.h"

#include <cctype>
#include <cstring>

namespace {

constexpr long FORMAT_TIMEOUT = 108000;
constexpr long START_TIMEOUT = 30;
constexpr long SHORT_TIMEOUT = 2;
constexpr DWORD SETTLE_MS = 8000;
constexpr DWORD POLL_MS = 5000;
constexpr std::size_t MODE_BYTES = 12;
constexpr std::int32_t FULL_SENSE = 14;
constexpr std::uint32_t FACTORY_MAXIMUM = 0xFFFFFFFF;

CdbAnswer SendOn(const DeviceRecord& record, unsigned long ctlIndex, const std::uint8_t* cdb, std::uint8_t* data,
                 std::uint32_t length, int direction, long timeout)
{
    CdbRequest request;
    request.cdb = cdb;
    request.cdbLength = 6;
    request.data = data;
    request.length = length;
    request.direction = direction;
    request.timeout = timeout;
    request.ctlIndex = ctlIndex;
    CdbAnswer answer{CdbAnswer::Unfilled{}};
    answer.result = RouteCdb(record, request, answer.block, answer.outcome);
    return answer;
}

bool IsFormatInProgress(const std::uint8_t* sense)
{
    return (sense[0] & 0x7F) == 0x70 && (sense[2] & 0x0F) == 0x02 && sense[12] == 0x04 && sense[13] == 0x04 &&
           (sense[15] & 0x80) != 0;
}

double ProgressOf(const std::uint8_t* sense) { return ((sense[16] << 8) | sense[17]) * 100.0 / 65536.0; }

// The 4-byte header and block descriptor; false when the drive refused.
bool SenseDescriptor(DeviceRecord& record, std::array<std::uint8_t, MODE_BYTES>& data, CdbAnswer& answer)
{
    const std::array<std::uint8_t, 6> cdb{0x1A, 0x00, 0x00, 0x00, MODE_BYTES, 0x00};
    answer = SendOn(record, 0, cdb.data(), data.data(), MODE_BYTES, DIRECTION_IN, SHORT_TIMEOUT);
    data[0] = 0;  // the mode data length is reserved in MODE SELECT
    data[3] = 8;
    return answer.Good();
}

CdbAnswer SelectDescriptor(DeviceRecord& record, std::array<std::uint8_t, MODE_BYTES>& data)
{
    const std::array<std::uint8_t, 6> cdb{0x15, 0x11, 0x00, 0x00, MODE_BYTES, 0x00};
    return SendOn(record, 0, cdb.data(), data.data(), MODE_BYTES, DIRECTION_OUT, SHORT_TIMEOUT);
}

void Finish(DeviceRecord& record, TestState state, const std::string& log, const std::string& status)
{
    LogLine(log, &record, GUI_WITH_ADDRESS);
    PublishStatus(record, state, status);
}

}  // namespace

void FormatJob::Keep(const CdbAnswer& answer)
{
    commandResult = static_cast<std::uint8_t>(answer.result);
    hostStatus = answer.block.SRB_HaStat;
    senseLength = answer.block.SRB_SenseLen;
    std::memset(sense.data(), 0, sense.size());
    std::memcpy(sense.data(), answer.Sense(), std::min(sense.size(), sizeof answer.block.SenseArea));
}

double FormatProgress(FormatJob& job)
{
    const std::array<std::uint8_t, 6> tur{0x00, 0, 0, 0, 0, 0};
    const CdbAnswer answer = SendOn(job.record, job.ctlIndex, tur.data(), nullptr, 0, DIRECTION_IN, SHORT_TIMEOUT);
    job.Keep(answer);
    const std::uint8_t* sense = job.sense.data();
    if (answer.outcome == 2 && IsFormatInProgress(sense)) {
        return ProgressOf(sense);
    }
    if (answer.outcome == 0) {
        return IsFormatInProgress(sense) ? ProgressOf(sense) : 100.0;
    }
    if (answer.outcome == 2 && ((sense[0] & 0x7F) == 0x71 || (sense[12] == 0x04 && sense[13] == 0x02))) {
        return -1.0;
    }
    // A drive that no longer answers would otherwise be watched for ever.
    if (answer.result == CMD_NO_DEVICE || answer.outcome == OUTCOME_ADAPTER_FAILURE) {
        return -1.0;
    }
    return 0.0;
}

void RunFormat(FormatJob& job)
{
    std::atomic_ref<float>(job.record.percent).store(0.0F);
    job.cdb[1] = static_cast<std::uint8_t>((job.cdb[1] & ~0x07) + 0x18);
    std::array<std::uint8_t, 4> header{0x00, 0x82, 0x00, 0x00};
    const std::array<std::uint8_t, 6> start{0x1B, 0, 0, 0, 0x01, 0};
    const std::array<std::uint8_t, 6> tur{0x00, 0, 0, 0, 0, 0};
    SendOn(job.record, job.ctlIndex, start.data(), nullptr, 0, DIRECTION_IN, START_TIMEOUT);
    SendOn(job.record, job.ctlIndex, tur.data(), nullptr, 0, DIRECTION_IN, SHORT_TIMEOUT);
    const CdbAnswer format =
        SendOn(job.record, job.ctlIndex, job.cdb.data(), header.data(), header.size(), DIRECTION_OUT, FORMAT_TIMEOUT);
    Sleep(SETTLE_MS);
    if (format.outcome != 0) {
        job.Keep(format);
    } else {
        for (;;) {
            const double progress = FormatProgress(job);
            if (progress < 0.0) {
                break;
            }
            std::atomic_ref<float>(job.record.percent).store(static_cast<float>(progress));
            if (progress >= 100.0) {
                break;
            }
            Sleep(POLL_MS);
        }
    }
    job.running.store(0, std::memory_order_release);
}

FormatOutcome DescribeFormatOutcome(const FormatJob& job, bool formatOnly, const std::string& time)
{
    const std::uint8_t* sense = job.sense.data();
    const std::string codes = Format("%2.2X / %2.2X / %2.2X", sense[2] & 0x0F, sense[12], sense[13]);
    const std::string fru = Format("FRU Code %2.2X", sense[14]);
    const char* at = time.c_str();
    if (job.commandResult == CMD_CARRIED_OUT && job.hostStatus == 0) {
        if (job.senseLength < FULL_SENSE || ((sense[2] & 0x0F) == 0 && sense[12] == 0 && sense[13] == 0)) {
            return {"Disk Format Completed Successfully", Format("Format Completed at %s", at), TEST_PASSED};
        }
        if (sense[14] == 0) {
            return {"Disk Format Failed " + codes, Format("Format Failed %s at %s", codes.c_str(), at), TEST_FAILED};
        }
        return {"Disk Format Failed " + codes + " " + fru,
                Format("Format Failed %s  %s at %s", codes.c_str(), fru.c_str(), at), TEST_FAILED};
    }
    if (!formatOnly && job.senseLength < FULL_SENSE) {
        return {" Disc Format Failed", Format("Format Failed at %s", at), TEST_FAILED};
    }
    if (!formatOnly && sense[14] == 0) {
        return {"Disk Format Failed " + codes, Format("Format Failed %s at %s", codes.c_str(), at), TEST_FAILED};
    }
    return {"Disk Format Failed " + codes + " " + fru,
            Format("Format Failed %s %s at %s", codes.c_str(), fru.c_str(), at), TEST_FAILED};
}

bool ChangeBlockSize(DeviceRecord& record, BlockSizeChoice choice, std::uint32_t typed)
{
    std::array<std::uint8_t, MODE_BYTES> data{};
    CdbAnswer answer;
    if (!SenseDescriptor(record, data, answer)) {
        Finish(record, TEST_FAILED, "Disc Failed Change Blocksize ModeSense " + SenseCodes(answer.Sense()),
               "Failed Change Blocksize Mode Sense");
        return false;
    }
    static constexpr std::uint32_t offered[] = {512, 520, 1024};
    const std::uint32_t size = choice == BLOCK_OTHER ? typed : offered[choice];
    data[4 + 5] = static_cast<std::uint8_t>(size >> 16);
    data[4 + 6] = static_cast<std::uint8_t>(size >> 8);
    data[4 + 7] = static_cast<std::uint8_t>(size);
    const std::string prefix = Format("Changing Blocksize to %d", static_cast<int>(size));
    LogLine(Format("Changing drive blocksize to: %d", static_cast<int>(size)), &record, GUI_WITH_ADDRESS);
    answer = SelectDescriptor(record, data);
    if (!answer.Good()) {
        const std::string codes = SenseCodes(answer.Sense());
        Finish(record, TEST_FAILED, "Change Blocksize Failed " + codes, prefix + " Failed " + codes);
        return false;
    }
    Finish(record, TEST_RUNNING, "Change Blocksize Passed", prefix + " Passed");
    return true;
}

void ChangeCapacity(DeviceRecord& record, std::uint32_t highBlock)
{
    std::uint64_t lastLba = 0;
    std::uint32_t blockLength = 0;
    RequestBlock block{};
    if (ReadCapacity(record, lastLba, blockLength, &block) != 0) {
        const std::string codes = SenseCodes(reinterpret_cast<const std::uint8_t*>(&block.SenseArea));
        Finish(record, TEST_FAILED, "Disc Failed Change Capacity " + codes, "Failed Change Capacity " + codes);
        return;
    }
    const bool factory = highBlock == 0;
    const std::string prefix = factory ? "Changing Capacity to Factory Maximum number of blocks"
                                       : Format("Changing Capacity to %d highblock", static_cast<int>(highBlock));
    LogLine(factory ? "Changing drive capacity to: Factory Maximum"
                    : Format("Changing drive capacity to: %d highblock", static_cast<int>(highBlock)),
            &record, GUI_WITH_ADDRESS);
    std::array<std::uint8_t, MODE_BYTES> data{};
    CdbAnswer answer;
    if (!SenseDescriptor(record, data, answer)) {
        Finish(record, TEST_FAILED, "Disc Failed Change Capacity ModeSense " + SenseCodes(answer.Sense()),
               "Failed Change Capacity Mode Sense");
        return;
    }
    const std::uint32_t blocks = factory ? FACTORY_MAXIMUM : highBlock + 1;
    for (int attempt = 0; attempt < (factory ? 2 : 1); ++attempt) {
        for (int i = 0; i < 4; ++i) {
            data[4 + i] = static_cast<std::uint8_t>(blocks >> (24 - 8 * i));
        }
        answer = SelectDescriptor(record, data);
        if (answer.Good()) {
            break;
        }
    }
    if (!answer.Good()) {
        const std::string codes = SenseCodes(answer.Sense());
        Finish(record, TEST_FAILED, "Disc Change Capacity Failed " + codes, prefix + " Failed " + codes);
        return;
    }
    Finish(record, TEST_PASSED, "Disc Change Capacity Passed", prefix + " Passed");
}

std::uint32_t ParsePositive(const std::string& text, std::uint32_t limit)
{
    const std::size_t first = !text.empty() && text[0] == '+' ? 1 : 0;
    if (first == text.size()) {
        return 0;
    }
    std::uint64_t value = 0;
    for (std::size_t i = first; i < text.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(text[i])) == 0) {
            return 0;
        }
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (value > limit) {
            return 0;
        }
    }
    return static_cast<std::uint32_t>(value);
}
