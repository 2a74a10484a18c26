// IOCTL_SCSI_PASS_THROUGH_DIRECT carried out as SG_IO on a /dev/sg node, with
// the answers the Windows port driver gives.
#pragma once

#include "machine/PassThrough.h"
#include "machine/linux/SgIo.h"

#include <string>

namespace harrow::machine {

// Runs a checked call on node. A command the target answered completes as
// TRUE with status, residual and sense in the caller's buffer; otherwise
// FALSE with the Win32 error of UndeliveredError or Win32ErrorOf.
BOOL RunSgPassThrough(const SgIoCall& sgIo, const std::string& node, const PassThroughCall& call,
                      DWORD* bytesReturned, DWORD* error);

// The Win32 error for a finished SG_IO that did not reach or complete at the
// target; 0 when the target answered (its status may still be a failure).
//   host DID_NO_CONNECT, DID_BAD_TARGET      -> ERROR_SEM_TIMEOUT (selection time-out)
//   host DID_TIME_OUT, driver DRIVER_TIMEOUT -> ERROR_SEM_TIMEOUT
//   host DID_BUS_BUSY, DID_IMM_RETRY, DID_REQUEUE, driver DRIVER_BUSY -> ERROR_BUSY
//   any other host or driver failure        -> ERROR_IO_DEVICE
DWORD UndeliveredError(const sg_io_hdr& header);

// The Win32 error for an errno from opening the sg node or from SG_IO.
DWORD Win32ErrorOf(int errnoValue);

}  // namespace harrow::machine
