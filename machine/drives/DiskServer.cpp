#include "machine/drives/DiskServer.h"

#include "machine/drives/Bytes.h"
#include "machine/drives/HealthLogPages.h"
#include "platform/Kernel.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <utility>

namespace harrow::machine::drives {
namespace {

constexpr std::uint32_t kEccBytes = 54;     // what READ LONG adds to a block
constexpr std::size_t kMaxGrownDefects = 256;
constexpr std::size_t kEchoBufferSize = 64 * 1024;
constexpr std::uint64_t kFirmwarePiece = 32 * 1024;  // mode 5: buffer ID numbers 32 KiB pieces
// Byte 1 of the block commands.
constexpr std::uint8_t kRelAdr = 0x01;
constexpr std::uint8_t kProtectBits = 0xE0;
// The Control mode page and its D_SENSE bit (SPC-3 7.4.6).
constexpr int kControlPage = 0x0A;
constexpr std::uint8_t kDescriptorSenseBit = 0x04;
// Byte 2 and the MRIE values of the informational exceptions control mode page.
constexpr std::uint8_t kDexcpt = 0x08;
constexpr int kMrieUnitAttention = 2;
constexpr int kMrieRecoveredIfPer = 3;  // treated as 4: the drive always reports it
constexpr int kMrieNoSense = 5;
constexpr int kMrieOnRequest = 6;

double WallClock()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

PageDefinition Page(std::uint8_t code, std::uint8_t length)
{
    PageDefinition page{std::vector<std::uint8_t>(length + 2u, 0), std::vector<std::uint8_t>(length + 2u, 0)};
    page.defaults[0] = code;
    page.defaults[1] = length;
    return page;
}

std::vector<PageDefinition> DiskPages(const UnitConfig& config)
{
    std::vector<PageDefinition> pages;
    auto recovery = Page(0x01, 0x0A);  // AWRE and ARRE on, retry counts
    recovery.defaults[2] = 0xC0;
    recovery.defaults[3] = 0x0B;
    recovery.defaults[8] = 0x0B;
    for (int i : {2, 3, 8, 10, 11}) recovery.changeable[i] = 0xFF;
    pages.push_back(recovery);
    auto reconnect = Page(0x02, 0x0E);
    reconnect.defaults[2] = reconnect.defaults[3] = 0x80;
    reconnect.changeable[2] = reconnect.changeable[3] = 0xFF;
    pages.push_back(reconnect);
    auto format = Page(0x03, 0x16);  // geometry bytes are filled in when read
    format.defaults[3] = 0x01;
    format.defaults[15] = 0x01;
    format.defaults[20] = 0x40;
    pages.push_back(format);
    pages.push_back(Page(0x04, 0x16));
    auto verify = Page(0x07, 0x0A);
    verify.defaults[3] = 0x0B;
    verify.changeable[2] = 0x0F;
    verify.changeable[3] = 0xFF;
    pages.push_back(verify);
    auto caching = Page(0x08, 0x12);  // write cache on, 16 segments
    caching.defaults[2] = 0x04;
    caching.defaults[13] = 16;
    caching.changeable[2] = 0x05;
    caching.changeable[12] = 0x20;
    caching.changeable[13] = 0xFF;
    pages.push_back(caching);
    // The maker's tools read the long self-test time at bytes 18-19 as well.
    auto control = Page(kControlPage, config.IsKestrel() ? 0x12 : 0x0A);
    control.defaults[2] = static_cast<std::uint8_t>(0x02 | (config.descriptorSense ? kDescriptorSenseBit : 0));
    control.defaults[3] = 0x10;
    control.changeable[2] = 0x02 | kDescriptorSenseBit;
    control.changeable[3] = 0xF6;
    pages.push_back(control);
    auto power = Page(0x1A, 0x0A);
    power.changeable[3] = 0x03;
    std::fill(power.changeable.begin() + 4, power.changeable.end(), 0xFF);
    pages.push_back(power);
    auto exceptions = Page(0x1C, 0x0A);
    exceptions.defaults[3] = 0x06;
    exceptions.changeable[2] = 0x89;
    exceptions.changeable[3] = 0x0F;
    std::fill(exceptions.changeable.begin() + 4, exceptions.changeable.end(), 0xFF);
    pages.push_back(exceptions);
    if (config.IsKestrel()) {
        auto vendor = Page(0x00, 0x06);  // PM off, JIT performance seek
        vendor.defaults[4] = 0x07;
        vendor.changeable[2] = config.pmChangeable ? 0x80 : 0x00;
        vendor.changeable[4] = 0x0F;
        pages.push_back(vendor);
        auto port = Page(0x19, 0x06);
        port.changeable[3] = 0x1F;
        pages.push_back(port);
    }
    return pages;
}

// Complete with the pages, so a drive nobody changes never needs its state written.
UnitState InitialState(const UnitConfig& config, const ModePages& pages)
{
    UnitState state;
    state.revision = config.revision;
    state.scsiFirmware = config.firmware.scsi;
    state.blockSize = config.blockSize;
    state.blocks = config.blocks;
    state.createdAt = WallClock();
    if (config.faults.loggedSelfTestFailure.segment > 0) {
        state.selfTests.push_back(LoggedFailure(config));
    }
    state.grownDefects = config.faults.grownDefects;
    pages.Complete(state);
    return state;
}

}  // namespace

DiskServer::DiskServer(UnitConfig config, const std::filesystem::path& stateDir)
    : ScsiServer(std::move(config)), m_pages(DiskPages(Config())),
      m_store(stateDir, InitialState(Config(), m_pages)), m_state(m_store.State())
{
    StateStore::Session session(m_store);
    // Completing only adds pages a remembered state lacks.
    const std::size_t before = m_state.currentPages.size() + m_state.savedPages.size();
    try {
        m_pages.Complete(m_state);
    } catch (const std::exception& e) {
        throw std::runtime_error((stateDir / "state.json").string() + ": damaged state file: " + e.what());
    }
    m_pagesCompletedAt = m_store.Loads();
    if (m_state.currentPages.size() + m_state.savedPages.size() != before) {
        m_store.MarkChanged();
    }
    if (ExceptionReporting() == kMrieUnitAttention) {
        RaiseUnitAttention({0x6, kPredictionAsc, kPredictionAscq});
        m_exceptionTold = true;
    }
}

ScsiResult DiskServer::Serve(const ScsiRequest& request)
{
    std::optional<double> waitedFormat;
    ScsiResult result;
    try {
        StateStore::Session session(m_store);
        CompleteLoadedPages();
        Advance();
        result = TellException(request, Answer(request));
        waitedFormat = std::exchange(m_waitedFormatStart, std::nullopt);
    } catch (const std::exception&) {
        // The state folder went bad under us (another process, a full disk):
        // a drive reports that as an internal target failure.
        return CheckCondition(sense::kInternalFailure);
    }
    if (waitedFormat) {
        FinishWaitedFormat(*waitedFormat);
    }
    return result;
}

// The initiator of a format without IMMED waits for its end; the unit's lock
// is free meanwhile, so other commands hear NOT READY with the progress.
void DiskServer::FinishWaitedFormat(double start)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(Config().formatSeconds * platform::TimeScale()));
    try {
        StateStore::Session session(m_store);
        if (m_state.running.operation == Operation::Format && m_state.running.start == start) {
            m_state.running = {};
            m_formatFailed = Config().faults.formatFails;
            m_store.MarkChanged();
        }
    } catch (const std::exception&) {
        // The next command reports the folder's trouble.
    }
    m_store.ReleaseFormatLock();
}

// Only a state just read from its file can lack pages or hold damaged ones.
void DiskServer::CompleteLoadedPages()
{
    if (m_store.Loads() != m_pagesCompletedAt) {
        m_pages.Complete(m_state);
        m_pagesCompletedAt = m_store.Loads();
    }
}

ScsiResult DiskServer::Dispatch(const ScsiRequest& request)
{
    const auto cdb = request.cdb;
    if (m_state.running.operation == Operation::Format) {
        return CheckCondition(sense::kFormatInProgress, {.progress = Progress()});
    }
    if (m_formatFailed) {
        m_formatFailed = false;
        return CheckCondition(sense::kFormatFailed, {.deferred = true});
    }
    const Command& command = Commands()[cdb[0]];
    if (command.run == nullptr) {
        return CheckCondition(sense::kInvalidOpcode);
    }
    if (command.mediumAccess) {
        if (auto notReady = NotReady(true)) {
            return *notReady;
        }
    }
    return command.run(*this, request);
}

// The drive's commands by operation code, as QEMU's scsi_disk_reqops_dispatch
// and tgt's sbc ops[] keep theirs: one row says what runs and what it needs.
const std::array<DiskServer::Command, 256>& DiskServer::Commands()
{
    // Relative addressing is gone from SBC-2; bits 5-7 ask for protection this drive lacks.
    static constexpr auto blocks10 = [](DiskServer& disk, const ScsiRequest& request) -> ScsiResult {
        const auto cdb = request.cdb;
        if (cdb[1] & (kRelAdr | kProtectBits)) {
            return CheckCondition(sense::kInvalidCdbField);
        }
        const std::uint64_t lba = GetBE(cdb, 2, 4);
        const std::uint64_t count = GetBE(cdb, 7, 2);
        switch (cdb[0]) {
        case opcode::kRead10: return disk.Read(request, lba, count);
        case opcode::kVerify10: return disk.Verify(request, lba, count, cdb[1] & 0x02);
        default: return disk.Write(request, lba, count);
        }
    };
    static constexpr auto cacheRange = [](DiskServer& disk, const ScsiRequest& request) -> ScsiResult {
        if (request.cdb[1] & kRelAdr) {
            return CheckCondition(sense::kInvalidCdbField);
        }
        return disk.CheckRange(GetBE(request.cdb, 2, 4), GetBE(request.cdb, 7, 2));
    };
    // RESERVE and RELEASE: one initiator always holds the unit.
    static constexpr auto reservation = [](DiskServer&, const ScsiRequest& request) -> ScsiResult {
        return (request.cdb[1] & 0x01) ? CheckCondition(sense::kInvalidCdbField) : Good();
    };
    static const std::array<Command, 256> table = [] {
        std::array<Command, 256> rows{};
        const auto medium = [&rows](std::uint8_t op, Handler run) { rows[op] = {run, true}; };
        const auto other = [&rows](std::uint8_t op, Handler run) { rows[op] = {run, false}; };
        medium(opcode::kTestUnitReady, [](DiskServer&, const ScsiRequest&) { return Good(); });
        medium(opcode::kRezeroUnit, [](DiskServer&, const ScsiRequest&) { return Good(); });
        other(opcode::kFormatUnit, [](DiskServer& d, const ScsiRequest& r) { return d.FormatUnit(r); });
        other(opcode::kReassignBlocks, [](DiskServer& d, const ScsiRequest& r) { return d.ReassignBlocks(r); });
        medium(opcode::kRead6, [](DiskServer& d, const ScsiRequest& r) {
            return d.Read(r, GetBE(r.cdb, 1, 3) & 0x1FFFFF, r.cdb[4] ? r.cdb[4] : 256);
        });
        medium(opcode::kWrite6, [](DiskServer& d, const ScsiRequest& r) {
            return d.Write(r, GetBE(r.cdb, 1, 3) & 0x1FFFFF, r.cdb[4] ? r.cdb[4] : 256);
        });
        medium(opcode::kSeek6, [](DiskServer& d, const ScsiRequest& r) { return d.Seek(GetBE(r.cdb, 1, 3) & 0x1FFFFF); });
        other(opcode::kModeSelect6, [](DiskServer& d, const ScsiRequest& r) { return d.ModeSelect(r, false); });
        for (std::uint8_t op : {opcode::kReserve6, opcode::kRelease6, opcode::kReserve10, opcode::kRelease10}) {
            other(op, reservation);
        }
        other(opcode::kModeSense6, [](DiskServer& d, const ScsiRequest& r) { return d.ModeSense(r, false); });
        other(opcode::kStartStopUnit, [](DiskServer& d, const ScsiRequest& r) { return d.StartStopUnit(r); });
        other(opcode::kReceiveDiagnosticResults, [](DiskServer&, const ScsiRequest& r) {
            const std::vector<std::uint8_t> supported{0x00, 0x00, 0x00, 0x01, 0x00};
            return DataIn(r, supported, static_cast<std::uint32_t>(GetBE(r.cdb, 3, 2)));
        });
        other(opcode::kSendDiagnostic, [](DiskServer& d, const ScsiRequest& r) { return d.SendDiagnostic(r); });
        medium(opcode::kReadCapacity10, [](DiskServer& d, const ScsiRequest& r) { return d.ReadCapacity10(r); });
        for (std::uint8_t op : {opcode::kRead10, opcode::kWrite10, opcode::kWriteAndVerify10, opcode::kVerify10}) {
            medium(op, blocks10);
        }
        medium(opcode::kSeek10, [](DiskServer& d, const ScsiRequest& r) { return d.Seek(GetBE(r.cdb, 2, 4)); });
        medium(opcode::kPrefetch10, cacheRange);
        medium(opcode::kSynchronizeCache10, cacheRange);
        other(opcode::kReadDefectData10, [](DiskServer& d, const ScsiRequest& r) { return d.ReadDefectData(r, false); });
        other(opcode::kWriteBuffer, [](DiskServer& d, const ScsiRequest& r) { return d.WriteBuffer(r); });
        other(opcode::kReadBuffer, [](DiskServer& d, const ScsiRequest& r) { return d.ReadBuffer(r); });
        medium(opcode::kReadLong10, [](DiskServer& d, const ScsiRequest& r) { return d.ReadLong(r); });
        medium(opcode::kWriteLong10, [](DiskServer& d, const ScsiRequest& r) { return d.WriteLong(r); });
        medium(opcode::kWriteSame10, [](DiskServer& d, const ScsiRequest& r) { return d.WriteSame(r); });
        other(opcode::kLogSelect, [](DiskServer& d, const ScsiRequest& r) { return d.LogSelect(r); });
        other(opcode::kLogSense, [](DiskServer& d, const ScsiRequest& r) { return d.LogSense(r); });
        other(opcode::kModeSelect10, [](DiskServer& d, const ScsiRequest& r) { return d.ModeSelect(r, true); });
        other(opcode::kModeSense10, [](DiskServer& d, const ScsiRequest& r) { return d.ModeSense(r, true); });
        medium(opcode::kRead16, [](DiskServer& d, const ScsiRequest& r) {
            return d.Read(r, GetBE(r.cdb, 2, 8), GetBE(r.cdb, 10, 4));
        });
        for (std::uint8_t op : {opcode::kWrite16, opcode::kWriteAndVerify16}) {
            medium(op, [](DiskServer& d, const ScsiRequest& r) {
                return d.Write(r, GetBE(r.cdb, 2, 8), GetBE(r.cdb, 10, 4));
            });
        }
        medium(opcode::kVerify16, [](DiskServer& d, const ScsiRequest& r) {
            return d.Verify(r, GetBE(r.cdb, 2, 8), GetBE(r.cdb, 10, 4), r.cdb[1] & 0x02);
        });
        medium(opcode::kServiceActionIn16, [](DiskServer& d, const ScsiRequest& r) { return d.ReadCapacity16(r); });
        other(opcode::kReadDefectData12, [](DiskServer& d, const ScsiRequest& r) {
            return d.Config().readDefectData12 ? d.ReadDefectData(r, true) : CheckCondition(sense::kInvalidOpcode);
        });
        return rows;
    }();
    return table;
}

bool DiskServer::DescriptorSense() const
{
    return (m_pages.Page(kControlPage, PageControl::Current, m_state)[2] & kDescriptorSenseBit) != 0;
}

Condition DiskServer::CurrentCondition()
{
    switch (m_state.running.operation) {
    case Operation::Format: return {sense::kFormatInProgress, {.progress = Progress()}};
    case Operation::ShortSelfTest:
    case Operation::LongSelfTest:
        return {{0x0, sense::kSelfTestInProgress.asc, sense::kSelfTestInProgress.ascq}, {.progress = Progress()}};
    case Operation::None: break;
    }
    if (m_state.notReadyRounds > 0) {
        return {sense::kBecomingReady, {}};
    }
    if (m_stopped) {
        return {sense::kStartRequired, {}};
    }
    if (ExceptionReporting() == kMrieOnRequest) {
        return {{0x0, kPredictionAsc, kPredictionAscq}, {}};
    }
    return {};
}

int DiskServer::ExceptionReporting() const
{
    const auto page = m_state.currentPages.find(0x1C);
    if (!Config().faults.predictedFailure || page == m_state.currentPages.end() || (page->second[2] & kDexcpt)) {
        return 0;
    }
    return page->second[3] & 0x0F;
}

ScsiResult DiskServer::TellException(const ScsiRequest& request, ScsiResult result)
{
    const int mrie = ExceptionReporting();
    const std::uint8_t op = request.cdb[0];
    if (m_exceptionTold || mrie < kMrieRecoveredIfPer || mrie > kMrieNoSense || result.status != 0 ||
        op == opcode::kInquiry || op == opcode::kRequestSense || op == opcode::kReportLuns) {
        return result;
    }
    m_exceptionTold = true;
    const std::uint8_t key = mrie == kMrieNoSense ? 0x0 : 0x1;  // NO SENSE or RECOVERED ERROR
    return CheckCondition({key, kPredictionAsc, kPredictionAscq}, {}, result.transferred);
}

std::optional<ScsiResult> DiskServer::NotReady(bool mediumAccess)
{
    if (m_state.formatCorrupted && mediumAccess) {
        return CheckCondition(sense::kMediumFormatCorrupted);
    }
    if (m_state.notReadyRounds > 0 && mediumAccess) {
        --m_state.notReadyRounds;
        m_store.MarkChanged();
        return CheckCondition(sense::kBecomingReady);
    }
    if (m_stopped) {
        return CheckCondition(sense::kStartRequired);
    }
    return std::nullopt;
}

// ---- medium access ----

ScsiResult DiskServer::CheckRange(std::uint64_t lba, std::uint64_t count) const
{
    if (lba >= m_state.blocks || count > m_state.blocks - lba) {
        return CheckCondition(sense::kLbaOutOfRange);
    }
    return Good();
}

// SBC-3 6.5.3: a transfer longer than the Block Limits page allows is refused.
ScsiResult DiskServer::CheckTransfer(std::uint64_t lba, std::uint64_t count) const
{
    const std::uint32_t limit = Config().maxTransferBlocks;
    if (limit != 0 && count > limit) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    return CheckRange(lba, count);
}

ScsiResult DiskServer::Seek(std::uint64_t lba) const
{
    if (!Config().seek) {
        return CheckCondition(sense::kInvalidOpcode);
    }
    if (Config().faults.seekFails) {
        return CheckCondition(sense::kInternalFailure);
    }
    return CheckRange(lba, 1);
}

bool DiskServer::IsMediumError(std::uint64_t lba) const
{
    return Config().faults.mediumErrors.count(lba) &&
           std::find(m_state.reassigned.begin(), m_state.reassigned.end(), lba) == m_state.reassigned.end();
}

std::optional<std::uint64_t> DiskServer::FirstMediumError(std::uint64_t lba, std::uint64_t count) const
{
    const auto& errors = Config().faults.mediumErrors;
    for (auto it = errors.lower_bound(lba); it != errors.end() && *it < lba + count; ++it) {
        if (IsMediumError(*it)) {
            return *it;
        }
    }
    return std::nullopt;
}

ScsiResult DiskServer::Read(const ScsiRequest& request, std::uint64_t lba, std::uint64_t count)
{
    if (auto range = CheckTransfer(lba, count); range.status != 0) {
        return range;
    }
    const std::uint64_t bs = m_state.blockSize;
    const auto failed = FirstMediumError(lba, count);
    const std::uint64_t good = failed ? *failed - lba : count;
    const auto bytes = static_cast<std::size_t>(std::min<std::uint64_t>(good * bs, request.data.size()));
    if (!m_store.ReadData(lba * bs, request.data.first(bytes))) {
        return CheckCondition(sense::kInternalFailure);
    }
    m_bytesRead += bytes;
    if (failed) {
        ++m_uncorrected;
        return CheckCondition(sense::kUnrecoveredRead, {.information = static_cast<std::uint32_t>(*failed)},
                              static_cast<std::uint32_t>(bytes));
    }
    return Good(static_cast<std::uint32_t>(bytes));
}

ScsiResult DiskServer::Write(const ScsiRequest& request, std::uint64_t lba, std::uint64_t count)
{
    if (auto range = CheckTransfer(lba, count); range.status != 0) {
        return range;
    }
    const std::uint64_t bytes = count * m_state.blockSize;
    if (bytes > request.data.size()) {
        return CheckCondition(sense::kDataPhaseError);  // the host sent fewer bytes than the blocks need
    }
    if (!m_store.WriteData(lba * m_state.blockSize, request.data.first(static_cast<std::size_t>(bytes)))) {
        return CheckCondition(sense::kInternalFailure);
    }
    m_bytesWritten += bytes;
    return Good(static_cast<std::uint32_t>(bytes));
}

ScsiResult DiskServer::Verify(const ScsiRequest& request, std::uint64_t lba, std::uint64_t count, bool compare)
{
    if (auto range = CheckRange(lba, count); range.status != 0) {
        return range;
    }
    if (const auto failed = FirstMediumError(lba, count)) {
        ++m_uncorrected;
        return CheckCondition(sense::kUnrecoveredRead, {.information = static_cast<std::uint32_t>(*failed)});
    }
    const std::uint64_t bs = m_state.blockSize;
    m_bytesVerified += count * bs;
    if (!compare) {
        return Good();
    }
    if (count * bs > request.data.size()) {
        return CheckCondition(sense::kDataPhaseError);
    }
    std::vector<std::uint8_t> block(bs);
    for (std::uint64_t i = 0; i < count; ++i) {
        if (!m_store.ReadData((lba + i) * bs, block)) {
            return CheckCondition(sense::kInternalFailure);
        }
        if (!std::equal(block.begin(), block.end(), request.data.begin() + static_cast<std::ptrdiff_t>(i * bs))) {
            return CheckCondition({0xE, 0x1D, 0x00}, {.information = static_cast<std::uint32_t>(lba + i)});
        }
    }
    return Good(static_cast<std::uint32_t>(count * bs));
}

ScsiResult DiskServer::ReadCapacity10(const ScsiRequest& request)
{
    const auto cdb = request.cdb;
    if ((cdb[1] & kRelAdr) || (!(cdb[8] & 0x01) && GetBE(cdb, 2, 4) != 0)) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    std::vector<std::uint8_t> data(8);
    PutBE(data, 0, 4, std::min<std::uint64_t>(m_state.blocks - 1, 0xFFFFFFFF));
    PutBE(data, 4, 4, m_state.blockSize);
    data.resize(static_cast<std::size_t>(Config().faults.capacityBytes));
    return DataIn(request, data, 8);
}

ScsiResult DiskServer::ReadCapacity16(const ScsiRequest& request)
{
    const auto cdb = request.cdb;
    if ((cdb[1] & 0x1F) != 0x10) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    std::vector<std::uint8_t> data(32);
    PutBE(data, 0, 8, m_state.blocks - 1);
    PutBE(data, 8, 4, m_state.blockSize);
    return DataIn(request, data, static_cast<std::uint32_t>(GetBE(cdb, 10, 4)));
}

std::optional<ScsiResult> DiskServer::CheckLongCdb(std::uint64_t lba, std::uint32_t length) const
{
    if (lba >= m_state.blocks) {
        return CheckCondition(sense::kLbaOutOfRange);
    }
    const std::uint32_t longLength = m_state.blockSize + kEccBytes;
    if (length != longLength) {
        // The information field tells the host how far off its length was.
        return CheckCondition(sense::kInvalidCdbField, {.information = length - longLength, .ili = true});
    }
    return std::nullopt;
}

ScsiResult DiskServer::ReadLong(const ScsiRequest& request)
{
    const auto cdb = request.cdb;
    const std::uint64_t lba = GetBE(cdb, 2, 4);
    const auto length = static_cast<std::uint32_t>(GetBE(cdb, 7, 2));
    if (auto refused = CheckLongCdb(lba, length)) {
        return *refused;
    }
    if (IsMediumError(lba)) {
        return CheckCondition(sense::kUnrecoveredRead, {.information = static_cast<std::uint32_t>(lba)});
    }
    std::vector<std::uint8_t> data(length, 0);
    if (!m_store.ReadData(lba * m_state.blockSize, std::span(data).first(m_state.blockSize))) {
        return CheckCondition(sense::kInternalFailure);
    }
    return DataIn(request, data, length);
}

ScsiResult DiskServer::WriteLong(const ScsiRequest& request)
{
    const auto cdb = request.cdb;
    const std::uint64_t lba = GetBE(cdb, 2, 4);
    const auto length = static_cast<std::uint32_t>(GetBE(cdb, 7, 2));
    if (auto refused = CheckLongCdb(lba, length)) {
        return *refused;
    }
    const auto data = DataOut(request, length);
    if (data.size() < length) {
        return CheckCondition(sense::kDataPhaseError);
    }
    // The ECC bytes are the drive's own; only the data part is kept.
    if (!m_store.WriteData(lba * m_state.blockSize, data.first(m_state.blockSize))) {
        return CheckCondition(sense::kInternalFailure);
    }
    m_bytesWritten += m_state.blockSize;
    return Good(length);
}

ScsiResult DiskServer::WriteSame(const ScsiRequest& request)
{
    const auto cdb = request.cdb;
    const std::uint64_t lba = GetBE(cdb, 2, 4);
    const std::uint64_t count = GetBE(cdb, 7, 2);
    // Neither block-number stamping nor "to the last block" (count 0) is offered.
    if ((cdb[1] & 0x07) != 0 || count == 0) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    if (auto range = CheckRange(lba, count); range.status != 0) {
        return range;
    }
    const auto block = DataOut(request, m_state.blockSize);
    if (block.size() < m_state.blockSize) {
        return CheckCondition(sense::kDataPhaseError);
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        if (!m_store.WriteData((lba + i) * m_state.blockSize, block)) {
            return CheckCondition(sense::kInternalFailure);
        }
    }
    m_bytesWritten += count * m_state.blockSize;
    return Good(m_state.blockSize);
}

// ---- maintenance ----

std::uint64_t DiskServer::MaxBlocks(std::uint32_t blockSize) const
{
    return Config().maxBlocks * Config().blockSize / blockSize;
}

ScsiResult DiskServer::StartStopUnit(const ScsiRequest& request)
{
    const std::uint8_t flags = request.cdb[4];
    if ((flags >> 4) == 0) {  // a power condition leaves the spindle as it is
        m_stopped = !(flags & 0x01);
    }
    return Good();
}

ScsiResult DiskServer::FormatUnit(const ScsiRequest& request)
{
    const auto cdb = request.cdb;
    const bool fmtData = cdb[1] & 0x10;
    const bool completeList = cdb[1] & 0x08;
    const int listFormat = cdb[1] & 0x07;
    bool immediate = false;
    std::vector<std::uint64_t> newDefects;
    if (fmtData) {
        const auto params = DataOut(request, static_cast<std::uint32_t>(request.data.size()));
        if (params.size() < 4) {
            return CheckCondition(sense::kParameterListLength);
        }
        const bool fov = params[1] & 0x80;
        if (!fov && (params[1] & 0x7C)) {
            return CheckCondition(sense::kInvalidParameter);
        }
        immediate = params[1] & 0x02;
        std::size_t at = 4;
        if (params[1] & 0x08) {  // initialization pattern descriptor
            at += 4 + GetBE(params, 6, 2);
        }
        const std::size_t listLength = GetBE(params, 2, 2);
        const std::size_t descriptor = listFormat == 0 ? 4 : 8;
        if (listLength > 0 && listFormat != 0 && listFormat != 3 && listFormat != 4 && listFormat != 5) {
            return CheckCondition(sense::kInvalidCdbField);
        }
        if (at + listLength > params.size()) {
            return CheckCondition(sense::kParameterListLength);
        }
        if (listLength % descriptor) {
            return CheckCondition(sense::kInvalidParameter);
        }
        for (std::size_t i = at; listFormat <= 3 && i < at + listLength; i += descriptor) {
            newDefects.push_back(GetBE(params, i, descriptor));
        }
    }
    if (m_state.running.operation != Operation::None) {
        AbortSelfTest(2);  // a format is an exception command to a running self test
    }
    const std::uint32_t newSize = m_state.pendingBlockSize ? m_state.pendingBlockSize : m_state.blockSize;
    const std::uint64_t bytes = m_state.blocks * m_state.blockSize;
    m_state.blocks = std::max<std::uint64_t>(1, std::min(bytes / newSize, MaxBlocks(newSize)));
    m_state.blockSize = newSize;
    m_state.pendingBlockSize = 0;
    if (completeList) {
        m_state.grownDefects.clear();
    }
    for (std::uint64_t lba : newDefects) {
        if (lba < m_state.blocks && m_state.grownDefects.size() < kMaxGrownDefects &&
            std::find(m_state.grownDefects.begin(), m_state.grownDefects.end(), lba) == m_state.grownDefects.end()) {
            m_state.grownDefects.push_back(lba);
        }
    }
    if (!m_store.ClearData()) {
        return CheckCondition({0x3, 0x31, 0x01});  // format command failed
    }
    m_state.running = {Operation::Format, WallClock(), Config().formatSeconds * platform::TimeScale(), !immediate};
    m_state.formatCorrupted = false;
    m_store.MarkChanged();
    // Without IMMED the command ends with the format: Serve waits for it
    // outside the unit's lock, so others are told the format's progress.
    if (!immediate) {
        if (!m_store.HoldFormatLock()) {
            m_state.running = {};
            return CheckCondition(sense::kFormatFailed);
        }
        m_waitedFormatStart = m_state.running.start;
    }
    return Good(static_cast<std::uint32_t>(std::min<std::size_t>(request.data.size(), UINT32_MAX)));
}

ScsiResult DiskServer::ReadDefectData(const ScsiRequest& request, bool twelve)
{
    const auto cdb = request.cdb;
    const std::uint8_t flags = twelve ? cdb[1] : cdb[2];
    const int format = flags & 0x07;
    const bool grown = flags & 0x08;
    if (format != 0 && format != 3 && format != 4 && format != 5) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    if (auto notReady = NotReady(true)) {
        return *notReady;
    }
    std::vector<std::uint64_t> defects = grown ? m_state.grownDefects : std::vector<std::uint64_t>{};
    std::sort(defects.begin(), defects.end());
    const std::size_t header = twelve ? 8 : 4;
    const std::size_t descriptor = format == 0 ? 4 : 8;
    const std::size_t fit = (twelve ? 0xFFFFFFF0u : 0xFFF0u) / descriptor;
    defects.resize(std::min(defects.size(), fit));
    std::vector<std::uint8_t> data(header + defects.size() * descriptor, 0);
    data[1] = static_cast<std::uint8_t>(flags & 0x1F);
    PutBE(data, twelve ? 4 : 2, twelve ? 4 : 2, defects.size() * descriptor);
    // Geometry of the physical formats: 8 heads, 400 sectors a track.
    constexpr std::uint64_t heads = 8, sectors = 400;
    for (std::size_t i = 0; i < defects.size(); ++i) {
        const std::size_t at = header + i * descriptor;
        const std::uint64_t lba = defects[i];
        if (format == 0 || format == 3) {
            PutBE(data, at, descriptor, lba);
            continue;
        }
        PutBE(data, at, 3, lba / (heads * sectors));
        data[at + 3] = static_cast<std::uint8_t>((lba / sectors) % heads);
        const std::uint64_t sector = lba % sectors;
        PutBE(data, at + 4, 4, format == 4 ? sector * m_state.blockSize : sector);
    }
    return DataIn(request, data, static_cast<std::uint32_t>(twelve ? GetBE(cdb, 6, 4) : GetBE(cdb, 7, 2)));
}

ScsiResult DiskServer::ReassignBlocks(const ScsiRequest& request)
{
    const bool longLba = request.cdb[1] & 0x02;
    const bool longList = request.cdb[1] & 0x01;
    const auto params = DataOut(request, static_cast<std::uint32_t>(request.data.size()));
    if (params.size() < 4) {
        return CheckCondition(sense::kParameterListLength);
    }
    const std::size_t length = longList ? GetBE(params, 0, 4) : GetBE(params, 2, 2);
    const std::size_t descriptor = longLba ? 8 : 4;
    if (length % descriptor) {
        return CheckCondition(sense::kInvalidParameter);
    }
    if (length > params.size() - 4) {
        return CheckCondition(sense::kParameterListLength);
    }
    std::vector<std::uint64_t> lbas;
    for (std::size_t at = 4; at < 4 + length; at += descriptor) {
        const std::uint64_t lba = GetBE(params, at, descriptor);
        if (lba >= m_state.blocks) {
            return CheckCondition(sense::kLbaOutOfRange);
        }
        lbas.push_back(lba);
    }
    for (std::uint64_t lba : lbas) {
        auto& grown = m_state.grownDefects;
        if (std::find(grown.begin(), grown.end(), lba) == grown.end()) {
            if (grown.size() >= kMaxGrownDefects) {
                m_store.MarkChanged();
                return CheckCondition({0x3, 0x32, 0x00}, {.information = static_cast<std::uint32_t>(lba)});
            }
            grown.push_back(lba);
        }
        if (IsMediumError(lba)) {
            m_state.reassigned.push_back(lba);
        }
    }
    m_store.MarkChanged();
    return Good(static_cast<std::uint32_t>(4 + length));
}

ScsiResult DiskServer::WriteBuffer(const ScsiRequest& request)
{
    const auto cdb = request.cdb;
    const int mode = cdb[1] & 0x1F;
    const std::uint64_t offset = GetBE(cdb, 3, 3);
    const auto length = static_cast<std::uint32_t>(GetBE(cdb, 6, 3));
    const auto piece = DataOut(request, length);
    if (mode == 0x02) {
        if (cdb[2] != 0 || offset + length > kEchoBufferSize) {
            return CheckCondition(sense::kInvalidCdbField);
        }
        m_echo.resize(kEchoBufferSize);
        std::copy(piece.begin(), piece.end(), m_echo.begin() + static_cast<std::ptrdiff_t>(offset));
        return Good(static_cast<std::uint32_t>(piece.size()));
    }
    if (mode != 0x05 && mode != 0x07) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    if (Config().faults.refuseDownload) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    if (++m_downloadPieces == Config().faults.resetDuringDownload) {
        return CheckCondition(sense::kDeviceInternalReset);  // the piece was not taken
    }
    const std::uint64_t at = mode == 0x05 ? cdb[2] * kFirmwarePiece : offset;
    const auto outcome = m_firmware.Receive(at, piece, Config().product);
    if (outcome.failure) {
        return CheckCondition(*outcome.failure);
    }
    if (outcome.installed) {
        m_state.revision = outcome.installed->revision;
        m_state.scsiFirmware = outcome.installed->scsiFirmware;
        m_state.notReadyRounds = Config().faults.notReadyAfterDownload;
        m_store.MarkChanged();
        RaiseUnitAttention(sense::kMicrocodeChanged);
    }
    return Good(static_cast<std::uint32_t>(piece.size()));
}

ScsiResult DiskServer::ReadBuffer(const ScsiRequest& request)
{
    const auto cdb = request.cdb;
    const int mode = cdb[1] & 0x1F;
    const std::uint64_t offset = GetBE(cdb, 3, 3);
    const auto allocation = static_cast<std::uint32_t>(GetBE(cdb, 6, 3));
    if (cdb[2] != 0) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    if (mode == 0x03) {
        std::vector<std::uint8_t> descriptor(4, 0);
        PutBE(descriptor, 1, 3, kEchoBufferSize);
        return DataIn(request, descriptor, allocation);
    }
    if (mode != 0x02 || offset + allocation > kEchoBufferSize) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    m_echo.resize(kEchoBufferSize);
    return DataIn(request, std::span(m_echo).subspan(offset), allocation);
}

std::uint32_t DiskServer::PowerOnMinutes() const
{
    const double minutes = Config().powerOnHours * 60.0 + std::max(0.0, WallClock() - m_state.createdAt) / 60.0;
    return static_cast<std::uint32_t>(std::min(minutes, 4.0e9));
}

double DiskServer::Elapsed() const { return std::max(0.0, WallClock() - m_state.running.start); }

}  // namespace harrow::machine::drives
