#include "gui/FormatCommands.h"

#include "frontend/DeviceQueries.h"
#include "frontend/TextFormat.h"
#include "gui/GuiLog.h"
#include "gui/SenseCodes.h"
#include "platform/Kernel.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

constexpr long kFormatTimeout = 108000;
constexpr long kStartTimeout = 30;
constexpr long kShortTimeout = 2;
constexpr DWORD kSettleMs = 8000;
constexpr DWORD kPollMs = 5000;
constexpr std::size_t kModeBytes = 12;
constexpr std::uint32_t kFactoryMaximum = 0xFFFFFFFF;

// NOT READY, LOGICAL UNIT NOT READY, FORMAT IN PROGRESS with its progress (SPC-4 4.5.2.4.4).
bool IsFormatInProgress(const SenseView& sense)
{
    return sense.Current() && sense.Key() == kSenseKeyNotReady && sense.Asc() == 0x04 && sense.Ascq() == 0x04 &&
           sense.SenseKeySpecificValid();
}

double ProgressOf(const SenseView& sense) { return sense.Progress().value_or(0) * 100.0 / 65536.0; }

// The sense length the adapter reported reaches key, ASC and ASCQ, in whichever format the drive chose.
bool CarriesCodes(const FormatJob& job)
{
    const std::int32_t stored = static_cast<std::int32_t>(job.sense.size());
    const auto length = static_cast<std::size_t>(std::clamp(job.senseLength, 0, stored));
    return SenseView(job.sense.data(), length).HasCodes();
}

// The 4-byte header and block descriptor; false when the drive refused.
bool SenseDescriptor(DeviceRecord& record, std::array<std::uint8_t, kModeBytes>& data, CdbAnswer& answer)
{
    answer = SendCdb(record, cdb::ModeSense6(0x00, kModeCurrent, kModeBytes), data.data(), kModeBytes, kShortTimeout);
    data[0] = 0;  // the mode data length is reserved in MODE SELECT
    data[3] = 8;
    return answer.Good();
}

CdbAnswer SelectDescriptor(DeviceRecord& record, std::array<std::uint8_t, kModeBytes>& data)
{
    return SendCdb(record, cdb::ModeSelect6(kModeBytes, true, true), data.data(), kModeBytes, kShortTimeout);
}

void Finish(DeviceRecord& record, TestState state, const std::string& log, const std::string& status)
{
    LogLine(log, &record, kGuiWithAddress);
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
    const CdbAnswer answer = SendCdb(job.record, cdb::TestUnitReady(), nullptr, 0, kShortTimeout, job.ctlIndex);
    job.Keep(answer);
    const SenseView sense(job.sense);
    if (answer.outcome == 2 && IsFormatInProgress(sense)) {
        return ProgressOf(sense);
    }
    if (answer.outcome == 0) {
        return IsFormatInProgress(sense) ? ProgressOf(sense) : 100.0;
    }
    if (answer.outcome == 2 && (sense.Deferred() || (sense.Asc() == 0x04 && sense.Ascq() == 0x02))) {
        return -1.0;
    }
    // A drive that no longer answers would otherwise be watched for ever.
    if (answer.result == kCmdNoDevice || answer.outcome == kOutcomeAdapterFailure) {
        return -1.0;
    }
    return 0.0;
}

void RunFormat(FormatJob& job)
{
    std::atomic_ref<float>(job.record.percent).store(0.0F);
    // Short parameter list header (SBC-3 5.3.2.2): FOV and IMMED.
    std::array<std::uint8_t, 4> header{0x00, 0x82, 0x00, 0x00};
    SendCdb(job.record, cdb::StartStopUnit(true), nullptr, 0, kStartTimeout, job.ctlIndex);
    SendCdb(job.record, cdb::TestUnitReady(), nullptr, 0, kShortTimeout, job.ctlIndex);
    const CdbAnswer format = SendCdb(job.record, job.cdb, header.data(), header.size(), kFormatTimeout, job.ctlIndex);
    Sleep(kSettleMs);
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
            Sleep(kPollMs);
        }
    }
    job.running.store(0, std::memory_order_release);
}

FormatOutcome DescribeFormatOutcome(const FormatJob& job, bool formatOnly, const std::string& time)
{
    const SenseView sense(job.sense);
    const std::string codes = Format("%2.2X / %2.2X / %2.2X", sense.Key(), sense.Asc(), sense.Ascq());
    const std::string fru = Format("FRU Code %2.2X", sense.Fru());
    const char* at = time.c_str();
    if (job.commandResult == kCmdCarriedOut && job.hostStatus == 0) {
        if (!CarriesCodes(job) || (sense.Key() == 0 && sense.Asc() == 0 && sense.Ascq() == 0)) {
            return {"Disk Format Completed Successfully", Format("Format Completed at %s", at), TEST_PASSED};
        }
        if (sense.Fru() == 0) {
            return {"Disk Format Failed " + codes, Format("Format Failed %s at %s", codes.c_str(), at), TEST_FAILED};
        }
        return {"Disk Format Failed " + codes + " " + fru,
                Format("Format Failed %s  %s at %s", codes.c_str(), fru.c_str(), at), TEST_FAILED};
    }
    if (!formatOnly && !CarriesCodes(job)) {
        return {" Disc Format Failed", Format("Format Failed at %s", at), TEST_FAILED};
    }
    if (!formatOnly && sense.Fru() == 0) {
        return {"Disk Format Failed " + codes, Format("Format Failed %s at %s", codes.c_str(), at), TEST_FAILED};
    }
    return {"Disk Format Failed " + codes + " " + fru,
            Format("Format Failed %s %s at %s", codes.c_str(), fru.c_str(), at), TEST_FAILED};
}

bool ChangeBlockSize(DeviceRecord& record, BlockSizeChoice choice, std::uint32_t typed)
{
    std::array<std::uint8_t, kModeBytes> data{};
    CdbAnswer answer;
    if (!SenseDescriptor(record, data, answer)) {
        Finish(record, TEST_FAILED, "Disc Failed Change Blocksize ModeSense " + SenseCodes(answer.ViewSense()),
               "Failed Change Blocksize Mode Sense");
        return false;
    }
    static constexpr std::uint32_t offered[] = {512, 520, 1024};
    const std::uint32_t size = choice == BLOCK_OTHER ? typed : offered[choice];
    data[4 + 5] = static_cast<std::uint8_t>(size >> 16);
    data[4 + 6] = static_cast<std::uint8_t>(size >> 8);
    data[4 + 7] = static_cast<std::uint8_t>(size);
    const std::string prefix = Format("Changing Blocksize to %d", static_cast<int>(size));
    LogLine(Format("Changing drive blocksize to: %d", static_cast<int>(size)), &record, kGuiWithAddress);
    answer = SelectDescriptor(record, data);
    if (!answer.Good()) {
        const std::string codes = SenseCodes(answer.ViewSense());
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
        const std::string codes = SenseCodes(block.SenseArea.View());
        Finish(record, TEST_FAILED, "Disc Failed Change Capacity " + codes, "Failed Change Capacity " + codes);
        return;
    }
    const bool factory = highBlock == 0;
    const std::string prefix = factory ? "Changing Capacity to Factory Maximum number of blocks"
                                       : Format("Changing Capacity to %d highblock", static_cast<int>(highBlock));
    LogLine(factory ? "Changing drive capacity to: Factory Maximum"
                    : Format("Changing drive capacity to: %d highblock", static_cast<int>(highBlock)),
            &record, kGuiWithAddress);
    std::array<std::uint8_t, kModeBytes> data{};
    CdbAnswer answer;
    if (!SenseDescriptor(record, data, answer)) {
        Finish(record, TEST_FAILED, "Disc Failed Change Capacity ModeSense " + SenseCodes(answer.ViewSense()),
               "Failed Change Capacity Mode Sense");
        return;
    }
    const std::uint32_t blocks = factory ? kFactoryMaximum : highBlock + 1;
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
        const std::string codes = SenseCodes(answer.ViewSense());
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
