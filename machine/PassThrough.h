// IOCTL_SCSI_PASS_THROUGH_DIRECT as a port driver handles it: check what the
// caller hands over, run the command on a unit, write status, residual and
// sense back into the caller's buffer.
#pragma once

#include "machine/LogicalUnit.h"
#include "platform/WinTypes.h"
#include "platform/ntddscsi.h"

namespace harrow::machine {

// Windows refuses time-outs of zero and above 30 hours.
constexpr ULONG kMaxTimeOutSeconds = 108000;

// A request that passed the checks, copied out of the caller's buffer.
struct PassThroughCall {
    SCSI_PASS_THROUGH_DIRECT request{};
    void* out = nullptr;
    DWORD outSize = 0;
};

// ERROR_SUCCESS with *call filled, or ERROR_INVALID_PARAMETER for a request a
// port would refuse: short buffers, Length other than the structure's size,
// CdbLength outside 1..16, an unknown DataIn, data without a buffer, more
// data than maxTransfer, a time-out of 0 or above 30 hours, or sense bytes
// that would not lie in the output buffer behind the structure.
DWORD CheckPassThrough(const void* in, DWORD inSize, void* out, DWORD outSize, ULONG maxTransfer,
                       PassThroughCall* call);

// The unit's view of a checked request. A request of unspecified direction
// with data hands the whole buffer over and lets the unit move data the way
// its command does, as the port does with both direction flags set.
ScsiRequest MakeScsiRequest(const PassThroughCall& call);

// Writes the unit's answer back. A selection time-out answers FALSE with
// ERROR_SEM_TIMEOUT (what Windows reports for an I/O time-out) and leaves
// the buffer alone; BUSY is an ordinary completion with status 0x08.
// Otherwise ScsiStatus, DataTransferLength (bytes moved), the sense bytes
// (at most SenseInfoLength, at SenseInfoOffset) and SenseInfoLength (bytes
// returned) are written and the call answers TRUE.
BOOL CompletePassThrough(const PassThroughCall& call, const ScsiResult& result, DWORD* bytesReturned,
                         DWORD* error);

}  // namespace harrow::machine
