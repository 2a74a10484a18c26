#include "machine/iscsi/IscsiPortDevice.h"

#include "machine/SimulatedPort.h"

namespace harrow::machine {

IscsiPortDevice::IscsiPortDevice(std::shared_ptr<IscsiPort> port) : m_port(std::move(port)) {}

BOOL IscsiPortDevice::IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                                DWORD* bytesReturned, DWORD* error)
{
    *bytesReturned = 0;
    switch (code) {
    case IOCTL_SCSI_GET_INQUIRY_DATA: {
        const std::vector<BYTE> busInfo = m_port->BusInfo();
        return AnswerWith(busInfo.data(), static_cast<DWORD>(busInfo.size()), out, outSize, bytesReturned, error);
    }
    case IOCTL_SCSI_GET_CAPABILITIES: {
        const IO_SCSI_CAPABILITIES caps = m_port->Capabilities();
        return AnswerWith(&caps, sizeof caps, out, outSize, bytesReturned, error);
    }
    case IOCTL_SCSI_RESCAN_BUS:
        if (!m_port->Scan()) {
            *error = ERROR_DEVICE_NOT_CONNECTED;
            return FALSE;
        }
        *error = ERROR_SUCCESS;
        return TRUE;
    case IOCTL_SCSI_PASS_THROUGH_DIRECT: {
        PassThroughCall call;
        *error = CheckPassThrough(in, inSize, out, outSize, kMaxTransferLength, &call);
        if (*error != ERROR_SUCCESS) {
            return FALSE;
        }
        return m_port->PassThrough(call, bytesReturned, error);
    }
    default:
        *error = ERROR_INVALID_FUNCTION;
        return FALSE;
    }
}

}  // namespace harrow::machine
