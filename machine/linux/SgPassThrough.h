// IOCTL_SCSI_PASS_THROUGH_DIRECT carried out as SG_IO on a /dev/sg node, with
// the answers the Windows port driver gives.
#pragma once

#include "machine/PassThrough.h"

#include <scsi/sg.h>

#include <functional>

namespace harrow::machine {

// One SG_IO to the unit: 0 when the ioctl ran, else an errno.
using SgSend = std::function<int(sg_io_hdr& header)>;

// Runs a checked call through send. A command the target answered completes
// as TRUE with status, residual and sense in the caller's buffer; otherwise
// FALSE with the Win32 error of UndeliveredError or Win32ErrorOf.
BOOL RunSgPassThrough(const SgSend& send, const PassThroughCall& call, DWORD* bytesReturned, DWORD* error);

// The Win32 error for a finished SG_IO that did not reach or complete at the
// target; 0 when the target answered (its status may still be a failure).
//   host DID_NO_CONNECT, DID_BAD_TARGET      -> ERROR_SEM_TIMEOUT (selection time-out)
//   host DID_TIME_OUT, driver DRIVER_TIMEOUT -> ERROR_SEM_TIMEOUT
//   host DID_BUS_BUSY, DID_IMM_RETRY, DID_REQUEUE, driver DRIVER_BUSY -> ERROR_BUSY
//   any other host or driver failure        -> ERROR_IO_DEVICE
DWORD UndeliveredError(const sg_io_hdr& header);

// The Win32 error for an errno from opening the sg node or from SG_IO;
// EOPNOTSUPP stands for a unit that has no sg node.
DWORD Win32ErrorOf(int errnoValue);

}  // namespace harrow::machine
