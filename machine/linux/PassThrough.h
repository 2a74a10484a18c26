// IOCTL_SCSI_PASS_THROUGH_DIRECT carried out as SG_IO, with the answers the
// Windows port driver gives: status, residual and sense in the caller's
// structure, and a Win32 error when the command never completed at the target.
#pragma once

#include "machine/linux/SgIo.h"
#include "platform/ntddscsi.h"

#include <optional>
#include <string>

namespace harrow::machine {

// The request as the caller laid it out; nullopt when the buffers or fields
// are not a usable request (the port answers ERROR_INVALID_PARAMETER).
std::optional<SCSI_PASS_THROUGH_DIRECT> ReadPassThroughRequest(const void* in, DWORD inSize, DWORD outSize);

// Runs a request from ReadPassThroughRequest on an sg node; on TRUE writes the
// answered structure and the sense bytes to out.
BOOL RunPassThrough(const SgIoCall& sgIo, const std::string& node, const SCSI_PASS_THROUGH_DIRECT& request,
                    void* out, DWORD* bytesReturned, DWORD* error);

// The Win32 error for a finished SG_IO that did not reach or complete at the
// target; 0 when the target answered (its status may still be a failure).
//   host DID_NO_CONNECT, DID_BAD_TARGET     -> ERROR_SEM_TIMEOUT (selection time-out)
//   host DID_TIME_OUT, driver DRIVER_TIMEOUT -> ERROR_SEM_TIMEOUT
//   host DID_BUS_BUSY, DID_IMM_RETRY, DID_REQUEUE, driver DRIVER_BUSY -> ERROR_BUSY
//   any other host or driver failure       -> ERROR_IO_DEVICE
DWORD UndeliveredError(const sg_io_hdr& header);

// The Win32 error for an errno from opening the sg node or from SG_IO.
DWORD Win32ErrorOf(int errnoValue);

}  // namespace harrow::machine
