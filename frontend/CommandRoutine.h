#pragma once

#include "core/transport/SRB_ExecSCSICmd.h"
#include "core/types/SenseView.h"
#include "frontend/DeviceRecord.h"
#include "frontend/ScsiCdb.h"

#include <array>
#include <cstdint>

class CScsiIoCtl;

// Results of the command routine besides the codes of ShowCommandError.
constexpr int kCmdCarriedOut = 1;
constexpr int kCmdNoDevice = 130;
// Outcome of a command that the host adapter reported as failed.
constexpr int kOutcomeAdapterFailure = 0x5AA5;

constexpr int kDirectionIn = 1;
constexpr int kDirectionOut = 2;

// Time-outs: 0 asks for the ordinary 30 s, -1 for eight hours.
constexpr long kTimeoutDefault = 0;
constexpr long kTimeoutEightHours = -1;

// One raw command as a front end builds it.
struct CdbRequest {
    const std::uint8_t* cdb = nullptr;
    int cdbLength = 0;
    std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
    int direction = kDirectionIn;
    long timeout = kTimeoutDefault;
    bool report = false;
    unsigned long ctlIndex = 0;
};

using RequestBlock = SRB_ExecSCSICmd;

// Sends the command to (ha, target, lun) through the core. Returns
// kCmdCarriedOut with the outcome (0 = good) and the request block filled,
// kCmdNoDevice, or what ShowCommandError answers for a failed command.
int ExecuteCdb(const CdbRequest& request, int hostAdapter, int target, int lun, RequestBlock& block, int& outcome);

// Sends the command the way the record's address form needs.
int RouteCdb(const DeviceRecord& record, const CdbRequest& request, RequestBlock& block, int& outcome);

// One command's whole answer: the routine's result, the outcome code and the request block.
struct CdbAnswer {
    struct Unfilled {};
    CdbAnswer() : block{} {}
    // Leaves the block for RouteCdb to clear: one clear of it a command, not two.
    explicit CdbAnswer(Unfilled) {}

    int result = 0;
    int outcome = 1;
    RequestBlock block;
    bool Good() const { return result == kCmdCarriedOut && outcome == 0; }
    const std::uint8_t* Sense() const { return reinterpret_cast<const std::uint8_t*>(&block.SenseArea); }
    SenseView ViewSense() const { return SenseView(Sense(), sizeof block.SenseArea); }
};

// RouteCdb without the error report, on the device's control block ctlIndex.
CdbAnswer SendCdb(const DeviceRecord& record, const std::uint8_t* cdb, int cdbLength, std::uint8_t* data,
                  std::uint32_t length, int direction, long timeout, unsigned long ctlIndex = 0);
// The same for a built command; a command that moves no data goes as kDirectionIn.
CdbAnswer SendCdb(const DeviceRecord& record, const Cdb& cdb, std::uint8_t* data, std::uint32_t length, long timeout,
                  unsigned long ctlIndex = 0);
// The transfer direction of the command routine for a built command.
constexpr int DirectionOf(const Cdb& cdb) { return cdb.direction == CdbDirection::Out ? kDirectionOut : kDirectionIn; }

// Turns a command the core threw into an outcome and a result, keeps its
// sense bytes as the last sense copy and, with report, shows "Command Error".
int ShowCommandError(CScsiIoCtl* failed, bool report, const std::uint8_t* cdb, int& outcome, RequestBlock& block);

// The sense bytes of the last failed command.
const std::array<std::uint8_t, kRecordSenseBytes>& LastSense();
void SetLastSense(const std::uint8_t* sense);

// The front ends' 64 KB data buffer, one per thread, made on its first use there.
constexpr std::uint32_t kSharedBufferBytes = 64 * 1024;
std::uint8_t* SharedBuffer();

// Milliseconds to wait after a good command (registry "CommandPauseMs", default 0).
unsigned long CommandPauseMs();
