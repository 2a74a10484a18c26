#include "frontend/DeviceQueries.h"

#include "core/system/CAMIRAIDChannel.h"
#include "core/system/CComputerSystem.h"
#include "core/devices/SCSIDevice.h"
#include "core/system/CHostAdapter.h"
#include "core/types/ByteOrder.h"
#include "core/types/CEventBase.h"
#include "core/types/LunAddress.h"
#include "frontend/CommandRoutine.h"
#include "frontend/DeviceText.h"
#include "platform/System.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

namespace {

constexpr long kShortTimeout = 2;
constexpr long kLogSenseTimeout = 10;
// The answer of the command routine that asks for the shorter INQUIRY.
constexpr int kRetryShortInquiry = 32;
// The host adapter status of a data underrun: what a capacity answer too short to read fails with.
constexpr int kShortCapacityAnswer = 0x12;
// READ CAPACITY(16): the last LBA and the block length (SBC-3 table 65).
constexpr std::uint32_t kCapacity16FieldBytes = 12;

// Keeps the computer system quiet for one scope.
class SilentScope {
public:
    explicit SilentScope(CComputerSystem* system) : m_system(system), m_was(system->IsSilent() != 0)
    {
        m_system->SetSilent(true);
    }
    ~SilentScope() { m_system->SetSilent(m_was); }
    SilentScope(const SilentScope&) = delete;
    SilentScope& operator=(const SilentScope&) = delete;

private:
    CComputerSystem* m_system;
    bool m_was;
};

CComputerSystem* SystemOrComplain()
{
    CComputerSystem* system = CComputerSystem::Instance();
    if (system == nullptr) {
        MessageBoxA(nullptr, "Device tree is not initialized", "Harrow", MB_OK | MB_ICONERROR);
    }
    return system;
}

struct Sent {
    int result;
    int outcome;
    bool Good() const { return result == kCmdCarriedOut && outcome == 0; }
    // 0 when good, else a non-zero outcome code.
    int Code() const
    {
        if (Good()) {
            return 0;
        }
        return outcome != 0 ? outcome : std::max(result, 1);
    }
};

Sent Send(const DeviceRecord& record, const Cdb& cdb, std::uint8_t* data, std::uint32_t length, long timeout)
{
    const CdbAnswer answer = SendCdb(record, cdb, data, length, timeout);
    return Sent{answer.result, answer.outcome};
}

DeviceRecord PlainRecord(int hostAdapter, int target, int lun)
{
    DeviceRecord record;
    record.kind = KIND_PLAIN;
    record.hostAdapter = hostAdapter;
    record.target = target;
    record.lun = lun;
    return record;
}

std::string Field(const std::uint8_t* bytes, std::size_t from, std::size_t count)
{
    return DeviceText(bytes + from, count);
}

// Searches a zero-terminated text that starts at `from` within the buffer.
bool TextContains(const std::vector<std::uint8_t>& buffer, std::size_t from, const char* word)
{
    if (from >= buffer.size()) {
        return false;
    }
    const auto* begin = reinterpret_cast<const char*>(buffer.data()) + from;
    const std::string text(begin, strnlen(begin, buffer.size() - from));
    return text.find(word) != std::string::npos;
}

Sent ReadLogPage(const DeviceRecord& record, std::uint8_t pageByte)
{
    return Send(record, cdb::LogSense(pageByte & 0x3F, pageByte >> 6, 0xFFFF), SharedBuffer(), 0xFFFF,
                kLogSenseTimeout);
}

// The Unit Serial Number VPD page (SPC-4 7.8.15), where drives of other
// makers keep it; right-aligned, so the blanks around it are dropped.
// Empty when the page is not offered.
std::string UnitSerialNumber(const DeviceRecord& record)
{
    constexpr std::uint8_t kSerialPage = 0x80;
    constexpr std::size_t kSerialFrom = 4;
    std::array<std::uint8_t, 0xFF> page{};
    const Cdb inquiry = cdb::InquiryPage(kSerialPage, page.size());
    if (!Send(record, inquiry, page.data(), page.size(), kShortTimeout).Good() ||
        page[1] != kSerialPage) {
        return {};
    }
    const std::size_t length = std::min<std::size_t>(page[3], page.size() - kSerialFrom);
    std::string serial = Field(page.data(), kSerialFrom, length);
    std::replace_if(serial.begin(), serial.end(), [](char c) { return std::isprint(static_cast<unsigned char>(c)) == 0; },
                    ' ');
    const auto first = serial.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    return serial.substr(first, serial.find_last_not_of(' ') - first + 1);
}

}  // namespace

long& ModeSenseTimeout()
{
    static long timeout = kShortTimeout;
    return timeout;
}

int GetAdapterInfo(int adapter, AdapterInfo& info)
{
    CComputerSystem* system = SystemOrComplain();
    if (system == nullptr) {
        return kNoSystem;
    }
    info.adapterCount = system->NumHostAdapters();
    CHostAdapter* host = adapter >= 0 && adapter < info.adapterCount ? system->GetHostAdapter(adapter) : nullptr;
    if (host == nullptr) {
        return -1;
    }
    info.number = host->GetAssignedID();
    info.scsiId = host->GetHATargetNum();
    info.aspiString = host->GetASPIString().substr(0, kAdapterTextBytes);
    info.adapterString = host->GetHAString().substr(0, kAdapterTextBytes);
    info.block.fill(0);
    info.block[kAdapterBlockDevices] = static_cast<std::uint8_t>(host->GetDevsSupported());
    const auto* channel = dynamic_cast<const CAMIRAIDChannel*>(host);
    info.channel = channel != nullptr ? channel->GetChannel() : -1;
    return 1;
}

int RescanAdapter(int adapter)
{
    CComputerSystem* system = SystemOrComplain();
    if (system == nullptr) {
        return kNoSystem;
    }
    CHostAdapter* host =
        adapter >= 0 && adapter < system->NumHostAdapters() ? system->GetHostAdapter(adapter) : nullptr;
    if (host == nullptr) {
        return 0;
    }
    SilentScope quiet(system);
    try {
        host->Rescan();
    } catch (CEventBase* event) {
        // A rescan that fails leaves the targets it found; the listing probes by itself.
        delete event;
    }
    return 1;
}

bool GetPeripheralType(int hostAdapter, int target, int lun, int& type)
{
    return GetPeripheralType(PlainRecord(hostAdapter, target, lun), type);
}

bool GetPeripheralType(const DeviceRecord& record, int& type)
{
    CComputerSystem* system = SystemOrComplain();
    if (system == nullptr) {
        return false;
    }
    SilentScope quiet(system);
    std::array<std::uint8_t, 6> data{};
    const Sent sent = Send(record, cdb::Inquiry(6), data.data(), data.size(), kShortTimeout);
    type = sent.Good() ? (data[0] & 0x1F) : -1;
    return sent.Good();
}

int ReadIdentity(const DeviceRecord& record, DeviceIdentity& identity, std::uint8_t* copy)
{
    std::array<std::uint8_t, kIdentityBytes> data{};
    Sent sent = Send(record, cdb::Inquiry(0xA0), data.data(), 0xA0, kShortTimeout);
    if (sent.result == kRetryShortInquiry) {
        data.fill(0);
        sent = Send(record, cdb::Inquiry(0x96), data.data(), 0x96, kShortTimeout);
    }
    if (!sent.Good()) {
        identity = DeviceIdentity{};
        return -1;
    }
    std::replace_if(data.begin(), data.end(), [](std::uint8_t c) { return std::isalnum(c) == 0; }, ' ');
    if (copy != nullptr) {
        std::memcpy(copy, data.data(), data.size());
    }
    identity.vendor = Field(data.data(), 8, 8);
    identity.product = Field(data.data(), 16, 16);
    identity.revision = Field(data.data(), 32, 4);
    identity.serialNumber = Field(data.data(), 36, 8);
    if (identity.serialNumber.find_first_not_of(' ') == std::string::npos) {
        if (std::string serial = UnitSerialNumber(record); !serial.empty()) {
            identity.serialNumber = std::move(serial);
        }
    }
    return 0;
}

bool IsKestrelDrive(const DeviceRecord& record)
{
    // One spare zero byte ends every search inside the buffer.
    std::vector<std::uint8_t> page(0x80 + 1, 0);
    if (Send(record, cdb::InquiryPage(0xC3, 0x80), page.data(), 0x80, kShortTimeout).Good() &&
        TextContains(page, 7, "KX")) {
        return true;
    }
    std::vector<std::uint8_t> inquiry(0xFF + 1, 0);
    if (!Send(record, cdb::Inquiry(0xFF), inquiry.data(), 0xFF, kShortTimeout).Good()) {
        return false;
    }
    return TextContains(inquiry, 8, "KESTREL") || TextContains(inquiry, 16, "KX") ||
           TextContains(inquiry, 97, "Kestrel") || TextContains(inquiry, 0, "Kestrel") ||
           TextContains(inquiry, 0, "KESTREL") || TextContains(inquiry, 0, "KX");
}

bool IsDstSupported(const DeviceRecord& record) { return ReadLogPage(record, kSelfTestPage).Good(); }

int ReadSelfTestStatus(const DeviceRecord& record, std::uint8_t pageByte, bool& inProgress, int& resultCode)
{
    std::memset(SharedBuffer(), 0, kSharedBufferBytes);
    const Sent sent = ReadLogPage(record, pageByte);
    if (sent.Good()) {
        resultCode = SharedBuffer()[8] & 0x0F;
        inProgress = resultCode == kSelfTestInProgress;
    }
    return sent.Code();
}

// The 10-byte answer saturates on drives of 2 TiB and more.
static int ReadCapacity16(const DeviceRecord& record, std::uint64_t& lastLba, std::uint32_t& blockLength, RequestBlock* block)
{
    std::array<std::uint8_t, kCapacity16Bytes> data{};
    const CdbAnswer answer =
        SendCdb(record, cdb::ReadCapacity16(kCapacity16Bytes), data.data(), data.size(), kShortTimeout);
    if (block != nullptr) {
        *block = answer.block;
    }
    if (!answer.Good()) {
        return Sent{answer.result, answer.outcome}.Code();
    }
    if (answer.block.SRB_BufLen < kCapacity16FieldBytes) {
        SetLastSense(answer.Sense());
        return kShortCapacityAnswer;
    }
    grab_bytes(data.data(), 8, &lastLba, sizeof lastLba);
    grab_bytes(data.data() + 8, 4, &blockLength, sizeof blockLength);
    return 0;
}

int ReadCapacity(const DeviceRecord& record, std::uint64_t& lastLba, std::uint32_t& blockLength, RequestBlock* block)
{
    std::array<std::uint8_t, 8> data{};
    const CdbAnswer answer = SendCdb(record, cdb::ReadCapacity10(), data.data(), data.size(), kShortTimeout);
    if (block != nullptr) {
        *block = answer.block;
    }
    if (!answer.Good()) {
        return Sent{answer.result, answer.outcome}.Code();
    }
    // A GOOD answer without the 8 bytes it must carry tells no capacity.
    if (answer.block.SRB_BufLen < data.size()) {
        SetLastSense(answer.Sense());
        return kShortCapacityAnswer;
    }
    std::uint32_t last = 0;
    grab_bytes(data.data(), 4, &last, sizeof last);
    grab_bytes(data.data() + 4, 4, &blockLength, sizeof blockLength);
    lastLba = last;
    return last == kLastLba10 ? ReadCapacity16(record, lastLba, blockLength, block) : 0;
}

std::uint32_t MaxTransferBlocks(const DeviceRecord& record, std::uint32_t blockLength, std::uint32_t bufferBytes)
{
    constexpr std::uint8_t kBlockLimitsPage = 0xB0;
    constexpr std::size_t kBlockLimitsBytes = 64;
    constexpr std::size_t kMaxTransferField = 8;
    std::uint32_t blocks = blockLength != 0 ? std::max<std::uint32_t>(bufferBytes / blockLength, 1) : 1;
    const CComputerSystem* system = CComputerSystem::Instance();
    const SCSIDevice* device = system != nullptr && record.kind == KIND_PLAIN
                                   ? system->GetSCSIDevice(record.hostAdapter, record.target, record.lun)
                                   : nullptr;
    if (device != nullptr && device->GetMaxTransferBytes() != 0 && blockLength != 0) {
        const unsigned long portBlocks = std::max<unsigned long>(device->GetMaxTransferBytes() / blockLength, 1);
        blocks = static_cast<std::uint32_t>(std::min<unsigned long>(blocks, portBlocks));
    }
    std::array<std::uint8_t, kBlockLimitsBytes> page{};
    const Cdb inquiry = cdb::InquiryPage(kBlockLimitsPage, kBlockLimitsBytes);
    const Sent sent = Send(record, inquiry, page.data(), page.size(), kShortTimeout);
    if (sent.Good() && page[1] == kBlockLimitsPage) {
        std::uint32_t limit = 0;
        grab_bytes(page.data() + kMaxTransferField, 4, &limit, sizeof limit);
        if (limit != 0) {  // 0: the drive sets no limit
            blocks = std::min(blocks, limit);
        }
    }
    return blocks;
}

int ModeSensePage(DeviceRecord& record, int pageCode, std::uint8_t* buffer, std::size_t count, int pageControl)
{
    std::array<std::uint8_t, kModeReplyBytes> reply{};
    const Sent sent = Send(record, cdb::ModeSense6(pageCode, pageControl, 0xFF), reply.data(), reply.size(),
                           ModeSenseTimeout());
    if (!sent.Good()) {
        std::memcpy(record.sense.data(), LastSense().data(), record.sense.size());
        return sent.Code();
    }
    if (buffer != nullptr) {
        std::memcpy(buffer, reply.data() + kModeReplySkip, std::min(count, reply.size() - kModeReplySkip));
    }
    return 0;
}

int SendNoDataCommand(const DeviceRecord& record, const Cdb& cdb, long timeout)
{
    const Sent sent = Send(record, cdb, nullptr, 0, timeout);
    return sent.Code();
}

const char* TypeName(int type)
{
    switch (type) {
    case 0:
        return "Disc ";
    case 1:
        return "Tape ";
    case 4:
    case 5:
    case 7:
        return "CDROM ";
    default:
        return "UNKNOWN ";
    }
}

namespace {

bool AskLunList(const DeviceRecord& answered, std::vector<std::uint8_t>& list)
{
    const Cdb reportLuns = cdb::ReportLuns(static_cast<std::uint32_t>(list.size()));
    return Send(answered, reportLuns, list.data(), static_cast<std::uint32_t>(list.size()), kShortTimeout).Good();
}

}  // namespace

std::vector<int> ReportedLunsBeyondProbe(const DeviceRecord& answered)
{
    constexpr unsigned long kLunLimit = 256;  // a port addresses LUNs with one byte
    std::vector<std::uint8_t> list(kLunListFirstAsk, 0);
    if (!AskLunList(answered, list)) {
        return {};
    }
    // A longer list than there was room for (SPC-4 6.33): once more, whole.
    if (const std::size_t whole = LunListBytes(list.data()); whole > list.size()) {
        std::vector<std::uint8_t> longer(whole, 0);
        if (AskLunList(answered, longer)) {
            list.swap(longer);
        }
    }
    std::vector<int> luns;
    for (const unsigned long lun : LunsBelow(list.data(), list.size(), kLunLimit)) {
        if (lun >= kProbedLuns) {
            luns.push_back(static_cast<int>(lun));
        }
    }
    return luns;
}

int TargetsToProbe(long supported)
{
    if (supported >= 1 && supported <= 8) {
        return 8;
    }
    if (supported >= 9 && supported <= 16) {
        return 16;
    }
    return 128;
}
