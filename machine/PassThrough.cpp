#include "machine/PassThrough.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace harrow::machine {
namespace {

constexpr UCHAR kStatusCheckCondition = 0x02;
constexpr UCHAR kStatusBusy = 0x08;

bool SenseAreaFits(const SCSI_PASS_THROUGH_DIRECT& request, DWORD outSize)
{
    if (request.SenseInfoLength == 0) {
        return true;
    }
    const std::uint64_t end = std::uint64_t{request.SenseInfoOffset} + request.SenseInfoLength;
    return request.SenseInfoOffset >= sizeof(SCSI_PASS_THROUGH_DIRECT) && end <= outSize;
}

bool RequestIsSound(const SCSI_PASS_THROUGH_DIRECT& request, DWORD outSize, ULONG maxTransfer)
{
    return request.Length == sizeof(SCSI_PASS_THROUGH_DIRECT) && request.CdbLength >= 1 &&
           request.CdbLength <= sizeof(request.Cdb) && request.DataIn <= SCSI_IOCTL_DATA_UNSPECIFIED &&
           (request.DataTransferLength == 0 || request.DataBuffer != nullptr) &&
           request.DataTransferLength <= maxTransfer && request.TimeOutValue >= 1 &&
           request.TimeOutValue <= kMaxTimeOutSeconds && SenseAreaFits(request, outSize);
}

DataDirection DirectionOf(const SCSI_PASS_THROUGH_DIRECT& request)
{
    if (request.DataTransferLength == 0) {
        return DataDirection::None;
    }
    switch (request.DataIn) {
    case SCSI_IOCTL_DATA_IN:
        return DataDirection::In;
    case SCSI_IOCTL_DATA_OUT:
        return DataDirection::Out;
    default:
        return DataDirection::None;
    }
}

}  // namespace

DWORD CheckPassThrough(const void* in, DWORD inSize, void* out, DWORD outSize, ULONG maxTransfer,
                       PassThroughCall* call)
{
    if (in == nullptr || out == nullptr || inSize < sizeof(SCSI_PASS_THROUGH_DIRECT) ||
        outSize < sizeof(SCSI_PASS_THROUGH_DIRECT)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::memcpy(&call->request, in, sizeof call->request);
    if (!RequestIsSound(call->request, outSize, maxTransfer)) {
        return ERROR_INVALID_PARAMETER;
    }
    call->out = out;
    call->outSize = outSize;
    return ERROR_SUCCESS;
}

ScsiRequest MakeScsiRequest(const PassThroughCall& call)
{
    const SCSI_PASS_THROUGH_DIRECT& request = call.request;
    ScsiRequest scsi;
    scsi.cdb = std::span<const std::uint8_t>(request.Cdb, request.CdbLength);
    scsi.direction = DirectionOf(request);
    if (request.DataTransferLength != 0) {
        scsi.data = std::span<std::uint8_t>(static_cast<std::uint8_t*>(request.DataBuffer),
                                            request.DataTransferLength);
    }
    scsi.timeoutSeconds = request.TimeOutValue;
    return scsi;
}

BOOL CompletePassThrough(const PassThroughCall& call, const ScsiResult& result, DWORD* bytesReturned,
                         DWORD* error)
{
    *bytesReturned = 0;
    if (result.outcome == PortOutcome::SelectionTimeout) {
        *error = ERROR_SEM_TIMEOUT;
        return FALSE;
    }
    SCSI_PASS_THROUGH_DIRECT answer = call.request;
    const bool busy = result.outcome == PortOutcome::Busy;
    answer.ScsiStatus = busy ? kStatusBusy : result.status;
    answer.DataTransferLength = busy ? 0 : std::min(result.transferred, call.request.DataTransferLength);
    const bool autoSense = !busy && result.status == kStatusCheckCondition;
    const std::size_t senseBytes =
        autoSense ? std::min<std::size_t>({result.senseLength, result.sense.size(), call.request.SenseInfoLength})
                  : 0;
    answer.SenseInfoLength = static_cast<UCHAR>(senseBytes);

    auto* out = static_cast<BYTE*>(call.out);
    std::memcpy(out, &answer, sizeof answer);
    if (senseBytes != 0) {
        std::memcpy(out + answer.SenseInfoOffset, result.sense.data(), senseBytes);
        *bytesReturned = answer.SenseInfoOffset + static_cast<DWORD>(senseBytes);
    } else {
        *bytesReturned = sizeof answer;
    }
    *error = ERROR_SUCCESS;
    return TRUE;
}

}  // namespace harrow::machine
