// The AMI MegaRAID miniport's pass-through (IOCTL_SCSI_MINIPORT) on a
// simulated controller: one command to the drive at a channel and target,
// answered in the same buffer. A check condition leaves the drive's sense
// with the controller, which hands it to the REQUEST SENSE that follows.
#pragma once

#include "machine/LogicalUnit.h"
#include "platform/WinTypes.h"

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace harrow::machine {

class MegaRaidMiniport {
public:
    // Runs a request on the unit at (channel, target, LUN 0); empty when there is none.
    using Execute = std::function<std::optional<ScsiResult>(UCHAR channel, UCHAR target, const ScsiRequest&)>;

    explicit MegaRaidMiniport(Execute execute);

    // The buffer is both input and output. FALSE with ERROR_INVALID_PARAMETER
    // for a buffer the controller's driver would refuse.
    BOOL PassThrough(const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* bytesReturned, DWORD* error);

    // Status byte values this controller writes.
    static constexpr BYTE STATUS_GOOD = 0x00;
    static constexpr BYTE STATUS_NO_DEVICE = 0xF4;
    static constexpr BYTE STATUS_FAILED = 0x80;  // ORed with the SCSI status

private:
    ScsiResult Run(UCHAR channel, UCHAR target, const ScsiRequest& request, bool* present);

    Execute m_execute;
    std::mutex m_lock;
    std::map<std::pair<UCHAR, UCHAR>, ScsiResult> m_pendingSense;
};

}  // namespace harrow::machine
