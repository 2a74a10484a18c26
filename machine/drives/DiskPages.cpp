// The disk's pages and self tests: INQUIRY vendor data, mode and log pages,
// SEND DIAGNOSTIC.
#include "machine/drives/Bytes.h"
#include "machine/drives/DiskServer.h"
#include "machine/drives/HealthLogPages.h"
#include "machine/drives/LogPageBuilder.h"
#include "platform/Kernel.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace harrow::machine::drives {
namespace {

constexpr int kBlockLimitsPage = 0xB0;
constexpr int kSegments = 8;
constexpr int kCumulativeValues = 1;  // LOG SENSE page control
constexpr std::uint64_t kHeads = 8;
constexpr std::uint64_t kSectorsPerTrack = 400;
constexpr char kCopyright[] = "Copyright (c) 2001 Kestrel, all rights reserved";
static_assert(sizeof(kCopyright) - 1 == 47);

double WallClock()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

using LogPage = LogPageBuilder;

std::uint8_t ResultForSegment(std::uint8_t segment) { return segment == 1 ? 5 : segment == 2 ? 6 : 7; }

}  // namespace

// ---- INQUIRY ----

std::vector<std::uint8_t> DiskServer::StandardInquiry() const
{
    auto data = ScsiServer::StandardInquiry();
    PutText(data, 32, 4, m_state.revision);
    if (Config().IsKestrel()) {
        data.resize(148, 0);
        data[4] = static_cast<std::uint8_t>(data.size() - 5);
        PutText(data, 97, 47, kCopyright);
    }
    return data;
}

std::vector<int> DiskServer::VendorPages() const
{
    std::vector<int> pages;
    if (Config().maxTransferBlocks != 0) {
        pages.push_back(kBlockLimitsPage);
    }
    if (Config().IsKestrel()) {
        pages.insert(pages.end(), {0xC0, 0xC3});
    }
    return pages;
}

std::vector<std::uint8_t> DiskServer::VendorPage(int page) const
{
    if (page == kBlockLimitsPage && Config().maxTransferBlocks != 0) {
        // SBC-3 6.5.3: MAXIMUM TRANSFER LENGTH in blocks at bytes 8-11.
        std::vector<std::uint8_t> data(64, 0);
        data[1] = kBlockLimitsPage;
        PutBE(data, 8, 4, Config().maxTransferBlocks);
        return data;
    }
    if (!Config().IsKestrel() || (page != 0xC0 && page != 0xC3)) {
        return {};
    }
    std::vector<std::uint8_t> data(page == 0xC0 ? 36 : 7 + 2 + 16, 0);
    data[1] = static_cast<std::uint8_t>(page);
    if (page == 0xC0) {  // firmware numbers
        const auto& firmware = Config().firmware;
        PutText(data, 4, 8, m_state.scsiFirmware);
        PutText(data, 12, 8, firmware.servoRam);
        PutText(data, 20, 8, firmware.servoRom);
        PutText(data, 28, 4, firmware.servoRamDate);
        PutText(data, 32, 4, firmware.servoRomDate);
    } else {  // drive family: a family code, then "KX" and the product
        PutText(data, 4, 3, "100");
        PutText(data, 7, 18, "KX" + Config().product);
    }
    return data;
}

// ---- mode pages ----

std::vector<std::uint8_t> DiskServer::BlockDescriptor(PageControl control) const
{
    std::vector<std::uint8_t> descriptor(8, 0);
    switch (control) {
    case PageControl::Changeable:
        PutBE(descriptor, 0, 4, 0xFFFFFFFF);
        PutBE(descriptor, 5, 3, 0xFFFFFF);
        break;
    case PageControl::Default:
        PutBE(descriptor, 0, 4, std::min<std::uint64_t>(Config().blocks, 0xFFFFFFFF));
        PutBE(descriptor, 5, 3, Config().blockSize);
        break;
    default:
        PutBE(descriptor, 0, 4, std::min<std::uint64_t>(m_state.blocks, 0xFFFFFFFF));
        PutBE(descriptor, 5, 3, m_state.pendingBlockSize ? m_state.pendingBlockSize : m_state.blockSize);
        break;
    }
    return descriptor;
}

std::vector<std::uint8_t> DiskServer::ModePage(int code, PageControl control) const
{
    auto page = m_pages.Page(code, control, m_state);
    if (control == PageControl::Changeable) {
        return page;
    }
    const std::uint64_t blocks = control == PageControl::Default ? Config().blocks : m_state.blocks;
    const std::uint32_t blockSize = control == PageControl::Default ? Config().blockSize : m_state.blockSize;
    if (code == 0x03) {
        PutBE(page, 10, 2, kSectorsPerTrack);
        PutBE(page, 12, 2, blockSize);
    } else if (code == 0x04) {
        PutBE(page, 2, 3, (blocks + kHeads * kSectorsPerTrack - 1) / (kHeads * kSectorsPerTrack));
        page[5] = kHeads;
        PutBE(page, 20, 2, 10025);
    } else if (code == 0x0A) {
        const std::uint64_t seconds = Config().dst ? std::llround(std::min(Config().longSelfTestSeconds, 65535.0)) : 0;
        PutBE(page, 10, 2, seconds);
        if (page.size() >= 20) {
            PutBE(page, 18, 2, seconds);
        }
    }
    return page;
}

ScsiResult DiskServer::ModeSense(const ScsiRequest& request, bool ten)
{
    const auto cdb = request.cdb;
    const bool noDescriptor = cdb[1] & 0x08;
    const auto control = static_cast<PageControl>(cdb[2] >> 6);
    const int code = cdb[2] & 0x3F;
    if (cdb[3] != 0 || (code != 0x3F && !m_pages.Has(code))) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    const std::size_t header = ten ? 8 : 4;
    std::vector<std::uint8_t> data(header, 0);
    if (!noDescriptor) {
        const auto descriptor = BlockDescriptor(control);
        data.insert(data.end(), descriptor.begin(), descriptor.end());
    }
    for (int each : code == 0x3F ? m_pages.Codes() : std::vector<int>{code}) {
        const auto page = ModePage(each, control);
        data.insert(data.end(), page.begin(), page.end());
    }
    if (ten) {
        PutBE(data, 0, 2, data.size() - 2);
        data[3] = 0x10;  // DPO and FUA supported
        PutBE(data, 6, 2, noDescriptor ? 0 : 8);
    } else {
        data[0] = static_cast<std::uint8_t>(std::min<std::size_t>(data.size() - 1, 0xFF));
        data[2] = 0x10;
        data[3] = noDescriptor ? 0 : 8;
    }
    return DataIn(request, data, static_cast<std::uint32_t>(ten ? GetBE(cdb, 7, 2) : cdb[4]));
}

std::optional<SenseCode> DiskServer::SelectBlockDescriptor(std::span<const std::uint8_t> descriptor)
{
    const auto count = GetBE(descriptor, 0, 4);
    const auto length = static_cast<std::uint32_t>(GetBE(descriptor, 5, 3));
    if (length != m_state.blockSize && !IsValidBlockSize(length)) {
        return sense::kInvalidParameter;
    }
    if (count != 0) {
        const std::uint64_t blocks = count == 0xFFFFFFFF ? MaxBlocks(m_state.blockSize) : count;
        if (blocks > MaxBlocks(m_state.blockSize)) {
            return sense::kInvalidParameter;
        }
        m_state.blocks = blocks;
    }
    m_state.pendingBlockSize = length == m_state.blockSize ? 0 : length;
    return std::nullopt;
}

ScsiResult DiskServer::ModeSelect(const ScsiRequest& request, bool ten)
{
    const auto cdb = request.cdb;
    const bool save = cdb[1] & 0x01;
    const auto length = static_cast<std::uint32_t>(ten ? GetBE(cdb, 7, 2) : cdb[4]);
    const auto params = DataOut(request, length);
    const std::size_t header = ten ? 8 : 4;
    if (length == 0) {
        return Good();
    }
    if (params.size() < length || length < header) {
        return CheckCondition(sense::kParameterListLength);
    }
    const std::size_t descriptorLength = ten ? GetBE(params, 6, 2) : params[3];
    if (descriptorLength != 0 && descriptorLength != 8) {
        return CheckCondition(sense::kInvalidParameter);
    }
    if (header + descriptorLength > params.size()) {
        return CheckCondition(sense::kParameterListLength);
    }
    const UnitState before = m_state;
    std::optional<SenseCode> failure;
    if (descriptorLength == 8) {
        failure = SelectBlockDescriptor(params.subspan(header, 8));
    }
    if (!failure) {
        failure = m_pages.Select(params.subspan(header + descriptorLength), save, m_state);
    }
    if (failure) {
        m_state = before;
        return CheckCondition(*failure);
    }
    // The cache is cut in at most 64 segments; the drive rounds what it is given.
    auto& segments = m_state.currentPages.at(0x08)[13];
    segments = std::clamp<std::uint8_t>(segments, 1, 64);
    if (save) {
        m_state.savedPages.at(0x08)[13] = segments;
    }
    m_store.MarkChanged();
    return Good(length);
}

// ---- log pages ----

std::vector<int> DiskServer::LogPageCodes() const
{
    std::vector<int> codes{0x00, 0x02, 0x03, 0x05, 0x06, 0x0D, 0x0E};
    if (Config().dst) {
        codes.push_back(0x10);
    }
    codes.push_back(0x15);
    if (HasSasPort(Config())) {
        codes.push_back(0x18);
    }
    codes.push_back(0x2F);
    if (Config().IsKestrel()) {
        codes.push_back(0x3E);
    }
    return codes;
}

std::vector<std::uint8_t> DiskServer::SelfTestPage() const
{
    std::vector<SelfTestEntry> entries = m_state.selfTests;
    const Operation running = m_state.running.operation;
    if (running == Operation::ShortSelfTest || running == Operation::LongSelfTest) {
        SelfTestEntry now;
        now.code = SelfTestCode(running);
        now.result = 0x0F;
        now.segment = static_cast<std::uint8_t>(std::min<int>(kSegments, Progress() * kSegments / 65536 + 1));
        now.hours = static_cast<std::uint16_t>(PowerOnMinutes() / 60);
        entries.insert(entries.begin(), now);
        entries.resize(std::min<std::size_t>(entries.size(), 20));
    }
    LogPage page(0x10, 0);
    std::uint16_t parameter = 1;
    for (const auto& e : entries) {
        std::vector<std::uint8_t> value(16, 0);
        value[0] = static_cast<std::uint8_t>((e.code << 5) | (e.result & 0x0F));
        value[1] = e.segment;
        PutBE(value, 2, 2, e.hours);
        PutBE(value, 4, 8, e.failedLba);
        value[12] = e.key;
        value[13] = e.asc;
        value[14] = e.ascq;
        page.Add(parameter++, 0x03, value);
    }
    return page.Finish();
}

ScsiResult DiskServer::LogSense(const ScsiRequest& request)
{
    const auto cdb = request.cdb;
    const int code = cdb[2] & 0x3F;
    const auto pointer = static_cast<std::uint16_t>(GetBE(cdb, 5, 2));
    const auto codes = LogPageCodes();
    if ((cdb[1] & 0x03) || cdb[3] != 0 || std::find(codes.begin(), codes.end(), code) == codes.end() ||
        (code == 0x00 && pointer != 0)) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    // Page control: 1 asks for the cumulative values every page has; the
    // counter pages' thresholds and defaults are all zero; list and status
    // pages have only what they hold now.
    const int control = cdb[2] >> 6;
    const bool counters = code == 0x02 || code == 0x03 || code == 0x05;
    if (control != kCumulativeValues && code != 0x00 && !counters) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    std::vector<std::uint8_t> data;
    LogPage page(code, pointer);
    switch (code) {
    case 0x00:
        for (int each : codes) page.Bytes().push_back(static_cast<std::uint8_t>(each));
        break;
    case 0x02:
    case 0x03:
    case 0x05: {
        const bool current = control == kCumulativeValues;
        const std::uint64_t bytes = code == 0x02 ? m_bytesWritten : code == 0x03 ? m_bytesRead : m_bytesVerified;
        const RisenErrors risen = current ? ErrorsAt(Config(), PowerOnMinutes()) : RisenErrors{};
        page.AddNumber(0, 4, risen.corrected);  // corrected without substantial delay
        page.AddNumber(1, 4, 0);
        page.AddNumber(2, 4, 0);
        page.AddNumber(3, 4, risen.corrected);  // corrected in total
        page.AddNumber(4, 4, risen.corrected);  // correction algorithm runs
        page.AddNumber(5, 8, current ? bytes : 0);
        page.AddNumber(6, 4, risen.uncorrected + (current && code != 0x02 ? m_uncorrected : 0));
        break;
    }
    case 0x0D: {
        const std::vector<std::uint8_t> current{0, static_cast<std::uint8_t>(Config().temperature)};
        const std::vector<std::uint8_t> reference{0, static_cast<std::uint8_t>(Config().referenceTemperature)};
        page.Add(0, 0x03, current);
        page.Add(1, 0x03, reference);
        break;
    }
    case 0x10: data = SelfTestPage(); break;
    case 0x06: data = NonMediumErrorPage(pointer); break;
    case 0x0E: data = StartStopPage(Config(), PowerOnMinutes(), pointer); break;
    case 0x15: data = BackgroundScanPage(Config(), m_state, PowerOnMinutes(), pointer); break;
    case 0x18: data = ProtocolPortPage(Config(), pointer); break;
    case 0x2F: data = InformationalExceptionsPage(Config(), pointer); break;
    case 0x3E: page.AddNumber(0, 4, PowerOnMinutes()); break;
    default: break;
    }
    if (data.empty()) {
        data = page.Finish();
    }
    return DataIn(request, data, static_cast<std::uint32_t>(GetBE(cdb, 7, 2)));
}

ScsiResult DiskServer::LogSelect(const ScsiRequest& request)
{
    const auto cdb = request.cdb;
    if (cdb[1] & 0x02) {  // parameter code reset
        m_bytesRead = m_bytesWritten = m_bytesVerified = m_uncorrected = 0;
        return Good();
    }
    return GetBE(cdb, 7, 2) == 0 ? Good() : CheckCondition(sense::kInvalidParameter);
}

// ---- self tests ----

std::uint8_t DiskServer::SelfTestCode(Operation operation) const
{
    const bool foreground = m_foreground != Operation::None;
    return operation == Operation::ShortSelfTest ? (foreground ? 5 : 1) : (foreground ? 6 : 2);
}

std::uint16_t DiskServer::Progress() const
{
    const double duration = m_state.running.duration;
    const double fraction = duration <= 0 ? 1.0 : Elapsed() / duration;
    return static_cast<std::uint16_t>(std::clamp(fraction * 65536.0, 0.0, 65535.0));
}

std::optional<DiskServer::Failure> DiskServer::PlannedFailure(Operation operation) const
{
    std::optional<Failure> failure;
    if (const int segment = Config().faults.selfTestFailSegment; segment > 0) {
        failure = Failure{(segment - 0.5) / kSegments, static_cast<std::uint8_t>(segment), ~0ULL, {0x4, 0x40, 0x80}};
    }
    if (operation == Operation::LongSelfTest) {  // the extended test reads the whole surface
        if (const auto lba = FirstMediumError(0, m_state.blocks)) {
            const double fraction = static_cast<double>(*lba) / static_cast<double>(m_state.blocks);
            const auto segment = static_cast<std::uint8_t>(std::min<int>(kSegments, fraction * kSegments + 1));
            if (!failure || fraction < failure->fraction) {
                failure = Failure{fraction, segment, *lba, sense::kUnrecoveredRead};
            }
        }
    }
    return failure;
}

void DiskServer::LogSelfTest(Operation operation, const std::optional<Failure>& failure, bool aborted,
                             std::uint8_t result)
{
    SelfTestEntry entry;
    entry.code = SelfTestCode(operation);
    entry.hours = static_cast<std::uint16_t>(PowerOnMinutes() / 60);
    if (aborted) {
        entry.result = result;
        entry.segment = static_cast<std::uint8_t>(std::min<int>(kSegments, Progress() * kSegments / 65536 + 1));
    } else if (failure) {
        entry.result = ResultForSegment(failure->segment);
        entry.segment = failure->segment;
        entry.failedLba = failure->lba;
        entry.key = failure->code.key;
        entry.asc = failure->code.asc;
        entry.ascq = failure->code.ascq;
    }
    m_state.selfTests.insert(m_state.selfTests.begin(), entry);
    m_state.selfTests.resize(std::min<std::size_t>(m_state.selfTests.size(), 20));
    m_store.MarkChanged();
}

void DiskServer::Advance()
{
    const Operation operation = m_state.running.operation;
    if (operation == Operation::None) {
        return;
    }
    const double duration = m_state.running.duration;
    const double fraction = duration <= 0 ? 1.0 : Elapsed() / duration;
    if (operation == Operation::Format) {
        if (m_state.running.hostWaits) {
            // Its initiator finishes it, unless that process died mid-format.
            if (!m_store.FormatLockHeld()) {
                m_state.running = {};
                m_state.formatCorrupted = true;
                m_store.MarkChanged();
            }
            return;
        }
        if (fraction >= 1.0) {
            m_state.running = {};
            m_formatFailed = Config().faults.formatFails;
            m_store.MarkChanged();
        }
        return;
    }
    const auto failure = PlannedFailure(operation);
    if (fraction >= 1.0 || (failure && fraction >= failure->fraction)) {
        LogSelfTest(operation, failure, false, 0);
        m_state.running = {};
    }
}

void DiskServer::AbortSelfTest(std::uint8_t result)
{
    const Operation operation = m_state.running.operation;
    if (operation == Operation::ShortSelfTest || operation == Operation::LongSelfTest) {
        LogSelfTest(operation, std::nullopt, true, result);
    }
    m_state.running = {};
    m_store.MarkChanged();
}

void DiskServer::StartBackground(Operation operation)
{
    const double seconds =
        operation == Operation::ShortSelfTest ? Config().shortSelfTestSeconds : Config().longSelfTestSeconds;
    m_state.running = {operation, WallClock(), seconds * platform::TimeScale()};
    m_store.MarkChanged();
}

ScsiResult DiskServer::RunForeground(Operation operation)
{
    m_foreground = operation;
    StartBackground(operation);
    const auto failure = PlannedFailure(operation);
    const double until = m_state.running.duration * (failure ? std::min(1.0, failure->fraction) : 1.0);
    std::this_thread::sleep_for(std::chrono::duration<double>(until));
    LogSelfTest(operation, failure, false, 0);
    m_state.running = {};
    m_foreground = Operation::None;
    return failure ? CheckCondition({0x4, 0x3E, 0x03}) : Good();
}

ScsiResult DiskServer::SendDiagnostic(const ScsiRequest& request)
{
    const auto cdb = request.cdb;
    const int code = cdb[1] >> 5;
    const bool selfTest = cdb[1] & 0x04;
    const auto length = GetBE(cdb, 3, 2);
    if (selfTest) {  // the default self test: quick and in the foreground
        if (code != 0 || length != 0) {
            return CheckCondition(sense::kInvalidCdbField);
        }
        return Config().faults.selfTestFailSegment ? CheckCondition({0x4, 0x3E, 0x03}) : Good();
    }
    if (code == 0) {
        return length == 0 ? Good() : CheckCondition(sense::kInvalidParameter);  // no diagnostic pages
    }
    if (!Config().dst || length != 0 || code == 3 || code == 7) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    const bool running = m_state.running.operation != Operation::None;
    if (code == 4) {
        if (!running) {
            return CheckCondition(sense::kInvalidCdbField);
        }
        AbortSelfTest(1);
        return Good();
    }
    if (running) {
        return CheckCondition(sense::kSelfTestInProgress);
    }
    const Operation operation = (code == 1 || code == 5) ? Operation::ShortSelfTest : Operation::LongSelfTest;
    if (code >= 5) {
        return RunForeground(operation);
    }
    StartBackground(operation);
    return Good();
}

}  // namespace harrow::machine::drives
