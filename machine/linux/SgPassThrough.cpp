#include "machine/linux/SgPassThrough.h"

#include <algorithm>
#include <cerrno>

namespace harrow::machine {
namespace {

// Host and driver codes of sg_io_hdr (include/scsi/scsi_status.h in the kernel).
constexpr unsigned DID_OK = 0x00;
constexpr unsigned DID_NO_CONNECT = 0x01;
constexpr unsigned DID_BUS_BUSY = 0x02;
constexpr unsigned DID_TIME_OUT = 0x03;
constexpr unsigned DID_BAD_TARGET = 0x04;
constexpr unsigned DID_IMM_RETRY = 0x0C;
constexpr unsigned DID_REQUEUE = 0x0D;
constexpr unsigned DRIVER_OK = 0x00;
constexpr unsigned DRIVER_BUSY = 0x01;
constexpr unsigned DRIVER_TIMEOUT = 0x06;
constexpr unsigned DRIVER_SENSE = 0x08;
constexpr unsigned kDriverCodeMask = 0x0F;

int DirectionOf(const SCSI_PASS_THROUGH_DIRECT& request)
{
    if (request.DataTransferLength == 0) {
        return SG_DXFER_NONE;
    }
    switch (request.DataIn) {
    case SCSI_IOCTL_DATA_IN: return SG_DXFER_FROM_DEV;
    case SCSI_IOCTL_DATA_OUT: return SG_DXFER_TO_DEV;
    default: return SG_DXFER_TO_FROM_DEV;  // unspecified: the buffer goes both ways
    }
}

}  // namespace

DWORD UndeliveredError(const sg_io_hdr& header)
{
    switch (header.host_status) {
    case DID_OK: break;
    case DID_NO_CONNECT:
    case DID_BAD_TARGET:
    case DID_TIME_OUT: return ERROR_SEM_TIMEOUT;
    case DID_BUS_BUSY:
    case DID_IMM_RETRY:
    case DID_REQUEUE: return ERROR_BUSY;
    default: return ERROR_IO_DEVICE;
    }
    switch (header.driver_status & kDriverCodeMask) {
    case DRIVER_OK:
    case DRIVER_SENSE: return 0;
    case DRIVER_TIMEOUT: return ERROR_SEM_TIMEOUT;
    case DRIVER_BUSY: return ERROR_BUSY;
    default: return ERROR_IO_DEVICE;
    }
}

DWORD Win32ErrorOf(int errnoValue)
{
    switch (errnoValue) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENODEV:
    case ENXIO: return ERROR_DEVICE_NOT_CONNECTED;
    case EBUSY:
    case EAGAIN: return ERROR_BUSY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    default: return ERROR_IO_DEVICE;
    }
}

BOOL RunSgPassThrough(const SgSend& send, const PassThroughCall& call, DWORD* bytesReturned, DWORD* error)
{
    *bytesReturned = 0;
    SCSI_PASS_THROUGH_DIRECT request = call.request;
    ScsiResult result;
    sg_io_hdr header{};
    header.interface_id = 'S';
    header.dxfer_direction = DirectionOf(request);
    header.cmd_len = request.CdbLength;
    header.cmdp = request.Cdb;
    header.mx_sb_len = static_cast<unsigned char>(std::min<std::size_t>(request.SenseInfoLength, result.sense.size()));
    header.sbp = result.sense.data();
    header.dxfer_len = request.DataTransferLength;
    header.dxferp = request.DataTransferLength == 0 ? nullptr : request.DataBuffer;
    header.timeout = request.TimeOutValue * 1000;

    if (const int failure = send(header); failure != 0) {
        *error = Win32ErrorOf(failure);
        return FALSE;
    }
    if (const DWORD undelivered = UndeliveredError(header); undelivered != 0) {
        *error = undelivered;
        return FALSE;
    }
    // Both counts come from the kernel; keep them inside what was asked for.
    const auto residual = std::clamp<long long>(header.resid, 0, request.DataTransferLength);
    result.status = header.status;
    result.transferred = request.DataTransferLength - static_cast<std::uint32_t>(residual);
    result.senseLength = std::min(header.sb_len_wr, header.mx_sb_len);
    return CompletePassThrough(call, result, bytesReturned, error);
}

}  // namespace harrow::machine
