#include "frontend/CommandRoutine.h"

#include "core/devices/SCSIDevice.h"
#include "core/devices/ScsiCdbRecord.h"
#include "core/system/CComputerSystem.h"
#include "core/transport/CScsiIoCtl.h"
#include "core/types/CEventBase.h"
#include "frontend/SenseDecoder.h"
#include "frontend/TextFormat.h"
#include "platform/Kernel.h"
#include "platform/Registry.h"
#include "platform/System.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr std::uint8_t kHostStatusOverrun = 0x12;
constexpr std::uint8_t kRequestCompleted = 1;
constexpr std::uint8_t kStatusCheckCondition = 2;
constexpr int kFallbackResult = 2;
// No pause unless the registry asks for one (250 restores the original pacing).
constexpr unsigned long kDefaultPauseMs = 0;
// A minute between commands is already far more than any user wants; a larger
// value is a typo, and would otherwise sleep for up to 49 days per command.
constexpr unsigned long kMaxPauseMs = 60000;
constexpr long kOrdinaryTimeout = 30;
constexpr long kEightHours = 28800;
constexpr const char* kOptionsKey = "Software\\Kestrel\\Harrow Viraradiza\\Options";

std::array<std::uint8_t, kRecordSenseBytes> g_lastSense{};

std::uint32_t EffectiveTimeout(long timeout)
{
    if (timeout == kTimeoutDefault) {
        return kOrdinaryTimeout;
    }
    if (timeout == kTimeoutEightHours) {
        return kEightHours;
    }
    return static_cast<std::uint32_t>(timeout);
}

SCSI_Cdb_UserDef16Byte_s BuildUserCdb(const CdbRequest& request)
{
    SCSI_Cdb_UserDef16Byte_s user{};
    const int length = std::clamp(request.cdbLength, 0, static_cast<int>(sizeof user.Cdb));
    if (request.cdb != nullptr) {
        std::memcpy(user.Cdb, request.cdb, static_cast<std::size_t>(length));
    }
    user.CdbLength = static_cast<std::uint8_t>(length);
    if (request.length != 0) {
        user.Flags = request.direction == kDirectionIn ? CScsiIoCtl::kFlagDataIn : CScsiIoCtl::kFlagDataOut;
    }
    user.DataLength = request.length;
    user.Timeout = EffectiveTimeout(request.timeout);
    return user;
}

int OutcomeOf(const RequestBlock& block)
{
    if (block.SRB_HaStat != 0) {
        return block.SRB_HaStat == kHostStatusOverrun ? 0 : kOutcomeAdapterFailure;
    }
    if (block.SRB_TargStat != 0) {
        return block.SRB_TargStat;
    }
    return block.SRB_Status == kRequestCompleted ? 0 : block.SRB_Status;
}

const char* AdapterText(std::uint8_t status)
{
    switch (status) {
    case 0x09:
        return "Time out while SRB was waiting to be processed";
    case 0x0B:
        return "Adapter time out processing SRB";
    case 0x0D:
        return "While processing SRB, adapter received a MESSAGE";
    case 0x0E:
        return "A bus reset was detected";
    case 0x0F:
        return "A parity error was detected";
    case 0x10:
        return "The adapter failed in issuing request sense";
    case 0x11:
        return "Selection Timeout";
    case 0x12:
        return "Data overrun / underrun";
    case 0x13:
        return "Unexpected bus free";
    case 0x14:
        return "Target bus phase sequence failure";
    default:
        return "Unknown adapter failure";
    }
}

std::string CommandErrorText(const RequestBlock& block, const std::uint8_t* cdb)
{
    std::string text = Format("SCSI Command 0x%2.2X failed for device %d:%d:%d \n", cdb != nullptr ? cdb[0] : 0,
                              block.SRB_HaId, block.SRB_Target, block.SRB_Lun);
    if (block.SRB_HaStat == 0) {
        if (block.SRB_TargStat == kStatusCheckCondition) {
            const SenseTexts texts = DecodeSense();
            const SenseView sense(LastSense());
            text += Format("Sense Key = 0x%2.2X, Code = 0x%2.2X, ASQ = 0x%2.2X\n %s\n%s\n%s\n", sense.Key(),
                           sense.Asc(), sense.Ascq(), texts.key.c_str(), texts.asc.c_str(), texts.ascq.c_str());
        }
    } else {
        text += AdapterText(block.SRB_HaStat);
    }
    text += Format("Host Status = %2.2X, SRB Status = %2.2X", block.SRB_HaStat, block.SRB_Status);
    return text;
}

void PauseAfterGoodCommand()
{
    if (const unsigned long pause = CommandPauseMs(); pause != 0) {
        Sleep(pause);
    }
}

// The RAID controller takes the command in a 32-byte packet, then moves its data.
constexpr std::uint8_t kRaidOpcode = 0x22;
constexpr std::uint8_t kRaidSendPacket = 0xAD;
constexpr std::uint8_t kRaidMoveData = 0xAE;
constexpr std::uint32_t kRaidPacketBytes = 32;
constexpr int kRaidPacketCdbOffset = 16;

std::uint16_t NextRaidTag()
{
    static std::uint16_t tag = 0;
    return ++tag;
}

std::array<std::uint8_t, 10> RaidCdb(std::uint8_t action, const DeviceRecord& record, std::uint16_t tag,
                                     std::uint32_t length)
{
    std::array<std::uint8_t, 10> cdb{};
    cdb[0] = kRaidOpcode;
    cdb[2] = action;
    cdb[3] = static_cast<std::uint8_t>(record.channel);
    cdb[4] = static_cast<std::uint8_t>(record.target);
    cdb[5] = static_cast<std::uint8_t>(tag >> 8);
    cdb[6] = static_cast<std::uint8_t>(tag);
    cdb[7] = static_cast<std::uint8_t>(length >> 8);
    cdb[8] = static_cast<std::uint8_t>(length);
    return cdb;
}

std::uint8_t RaidDirectionCode(const CdbRequest& request)
{
    if (request.length == 0) {
        return 0;
    }
    return request.direction == kDirectionIn ? 1 : 2;
}

int RaidPassThrough(const DeviceRecord& record, const CdbRequest& request, RequestBlock& block, int& outcome)
{
    static std::mutex raidPath;
    std::lock_guard lock(raidPath);
    const std::uint16_t tag = NextRaidTag();
    const int cdbLength = std::clamp(request.cdbLength, 0, static_cast<int>(sizeof(RequestBlock::CDBByte)));

    std::array<std::uint8_t, kRaidPacketBytes> packet{};
    packet[0] = static_cast<std::uint8_t>(record.channel);
    packet[1] = static_cast<std::uint8_t>(record.target);
    packet[2] = static_cast<std::uint8_t>(cdbLength);
    packet[3] = RaidDirectionCode(request);
    packet[4] = 1;
    if (request.cdb != nullptr) {
        std::memcpy(packet.data() + kRaidPacketCdbOffset, request.cdb, static_cast<std::size_t>(cdbLength));
    }

    const auto send = RaidCdb(kRaidSendPacket, record, tag, kRaidPacketBytes);
    CdbRequest wrapper = request;
    wrapper.cdb = send.data();
    wrapper.cdbLength = static_cast<int>(send.size());
    wrapper.data = packet.data();
    wrapper.length = kRaidPacketBytes;
    wrapper.direction = kDirectionOut;
    int result = ExecuteCdb(wrapper, record.hostAdapter, record.raidTarget, 0, block, outcome);
    if (result != kCmdCarriedOut || outcome != 0) {
        return result;
    }

    const auto move = RaidCdb(kRaidMoveData, record, tag, request.length);
    CdbRequest mover = request;
    mover.cdb = move.data();
    mover.cdbLength = static_cast<int>(move.size());
    return ExecuteCdb(mover, record.hostAdapter, record.raidTarget, 0, block, outcome);
}

unsigned long ReadPauseFromRegistry()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kOptionsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return kDefaultPauseMs;
    }
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LSTATUS status =
        RegQueryValueExA(key, "CommandPauseMs", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_DWORD) {
        return kDefaultPauseMs;
    }
    if (value > kMaxPauseMs) {
        std::fprintf(stderr, "harrow: CommandPauseMs %lu is above %lu ms and is ignored; the pause stays %lu ms\n",
                     static_cast<unsigned long>(value), kMaxPauseMs, kDefaultPauseMs);
        return kDefaultPauseMs;
    }
    return value;
}

}  // namespace

const std::array<std::uint8_t, kRecordSenseBytes>& LastSense() { return g_lastSense; }

void SetLastSense(const std::uint8_t* sense) { std::memcpy(g_lastSense.data(), sense, g_lastSense.size()); }

// One per thread: the windowed program reads drives from several threads at once.
std::uint8_t* SharedBuffer()
{
    thread_local std::vector<std::uint8_t> buffer(kSharedBufferBytes);
    return buffer.data();
}

unsigned long CommandPauseMs()
{
    static const unsigned long pause = ReadPauseFromRegistry();
    return pause;
}

namespace {

// Sends the command to one device of the tree; kCmdNoDevice when there is none.
int ExecuteOnDevice(SCSIDevice* device, const CdbRequest& request, RequestBlock& block, int& outcome)
{
    if (device == nullptr) {
        return kCmdNoDevice;
    }
    SCSI_Cdb_UserDef16Byte_s user = BuildUserCdb(request);
    try {
        if (device->SCSI_CDB_DANGER(request.ctlIndex, &user, request.data) != ERR_NONE) {
            // Refused before it reached the drive: the block still holds the previous command.
            outcome = kFallbackResult;
            return kFallbackResult;
        }
        PauseAfterGoodCommand();
        if (CScsiIoCtl* ctl = device->GetCtlBlock(request.ctlIndex); ctl != nullptr) {
            ctl->FillSRB(&block);
        }
    } catch (CScsiIoCtl* failed) {
        return ShowCommandError(failed, request.report, request.cdb, outcome, block);
    } catch (CEventBase* event) {
        // The raw path throws the block itself; an event here still means the command failed.
        delete event;
        outcome = kFallbackResult;
        return kFallbackResult;
    }
    outcome = OutcomeOf(block);
    return kCmdCarriedOut;
}

// HA:CH:TAR:LUN names a drive behind channel CH of the MegaRAID controller on port HA.
int ExecuteOnChannel(const DeviceRecord& record, const CdbRequest& request, RequestBlock& block, int& outcome)
{
    outcome = 1;
    std::memset(&block, 0, sizeof block);
    CComputerSystem* system = CComputerSystem::Instance();
    if (system == nullptr) {
        return kCmdNoDevice;
    }
    return ExecuteOnDevice(system->GetChannelDevice(record.hostAdapter, record.channel, record.target, record.lun),
                           request, block, outcome);
}

}  // namespace

int ExecuteCdb(const CdbRequest& request, int hostAdapter, int target, int lun, RequestBlock& block, int& outcome)
{
    outcome = 1;
    std::memset(&block, 0, sizeof block);
    CComputerSystem* system = CComputerSystem::Instance();
    if (system == nullptr) {
        return kCmdNoDevice;
    }
    return ExecuteOnDevice(system->GetSCSIDevice(hostAdapter, target, lun), request, block, outcome);
}

int RouteCdb(const DeviceRecord& record, const CdbRequest& request, RequestBlock& block, int& outcome)
{
    switch (record.kind) {
    case KIND_PLAIN:
        return ExecuteCdb(request, record.hostAdapter, record.target, record.lun, block, outcome);
    case KIND_RAID:
        return RaidPassThrough(record, request, block, outcome);
    case KIND_CHANNEL_ALT:
    case KIND_CHANNEL: {
        static std::mutex channelPath;
        std::lock_guard lock(channelPath);
        return ExecuteOnChannel(record, request, block, outcome);
    }
    default:
        std::memset(&block, 0, sizeof block);
        return kCmdCarriedOut;
    }
}

CdbAnswer SendCdb(const DeviceRecord& record, const std::uint8_t* cdb, int cdbLength, std::uint8_t* data,
                  std::uint32_t length, int direction, long timeout, unsigned long ctlIndex)
{
    CdbRequest request;
    request.cdb = cdb;
    request.cdbLength = cdbLength;
    request.data = data;
    request.length = length;
    request.direction = direction;
    request.timeout = timeout;
    request.ctlIndex = ctlIndex;
    CdbAnswer answer{CdbAnswer::Unfilled{}};  // every route clears the block first
    answer.result = RouteCdb(record, request, answer.block, answer.outcome);
    return answer;
}

CdbAnswer SendCdb(const DeviceRecord& record, const Cdb& cdb, std::uint8_t* data, std::uint32_t length, long timeout,
                  unsigned long ctlIndex)
{
    return SendCdb(record, cdb.data(), cdb.length, data, length, DirectionOf(cdb), timeout, ctlIndex);
}

int ShowCommandError(CScsiIoCtl* failed, bool report, const std::uint8_t* cdb, int& outcome, RequestBlock& block)
{
    std::memset(&block, 0, sizeof block);
    if (failed != nullptr) {
        failed->FillSRB(&block);
    }
    SetLastSense(reinterpret_cast<const std::uint8_t*>(&block.SenseArea));
    int result = kFallbackResult;
    if (block.SRB_HaStat != 0) {
        outcome = kOutcomeAdapterFailure;
        result = block.SRB_HaStat;
    } else if (block.SRB_TargStat != 0) {
        outcome = block.SRB_TargStat;
        result = block.SRB_Status;
    } else if (block.SRB_Status != 0 && block.SRB_Status != kRequestCompleted) {
        outcome = result = block.SRB_Status;
    } else {
        outcome = result = kFallbackResult;
    }
    if (report) {
        MessageBoxA(nullptr, CommandErrorText(block, cdb).c_str(), "Command Error", MB_OK | MB_ICONERROR);
    }
    return result;
}
