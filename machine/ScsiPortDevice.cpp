#include "machine/ScsiPortDevice.h"

namespace harrow::machine {

ScsiPortDevice::ScsiPortDevice(std::shared_ptr<SimulatedPort> port) : m_port(std::move(port)) {}

BOOL ScsiPortDevice::IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                               DWORD* bytesReturned, DWORD* error)
{
    switch (code) {
    case IOCTL_SCSI_GET_INQUIRY_DATA: {
        const std::vector<BYTE>& busInfo = m_port->BusInfo();
        return AnswerWith(busInfo.data(), static_cast<DWORD>(busInfo.size()), out, outSize, bytesReturned, error);
    }
    case IOCTL_SCSI_GET_CAPABILITIES: {
        const IO_SCSI_CAPABILITIES caps = m_port->Capabilities();
        return AnswerWith(&caps, sizeof caps, out, outSize, bytesReturned, error);
    }
    case IOCTL_SCSI_RESCAN_BUS:
        // The machine's units are fixed when it starts; a rescan finds them again.
        *bytesReturned = 0;
        *error = ERROR_SUCCESS;
        return TRUE;
    case IOCTL_SCSI_PASS_THROUGH_DIRECT:
        return PassThrough(in, inSize, out, outSize, bytesReturned, error);
    case IOCTL_SCSI_MINIPORT:
        if (MegaRaidMiniport* miniport = m_port->Miniport(); miniport != nullptr) {
            return miniport->PassThrough(in, inSize, out, outSize, bytesReturned, error);
        }
        *bytesReturned = 0;
        *error = ERROR_INVALID_FUNCTION;
        return FALSE;
    default:
        *bytesReturned = 0;
        *error = ERROR_INVALID_FUNCTION;
        return FALSE;
    }
}

BOOL ScsiPortDevice::PassThrough(const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* bytesReturned,
                                 DWORD* error)
{
    PassThroughCall call;
    *error = CheckPassThrough(in, inSize, out, outSize, m_port->MaxTransferBytes(), &call);
    if (*error != ERROR_SUCCESS) {
        *bytesReturned = 0;
        return FALSE;
    }
    return m_port->PassThrough(call, bytesReturned, error);
}

}  // namespace harrow::machine
