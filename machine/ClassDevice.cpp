#include "machine/ClassDevice.h"

namespace harrow::machine {

const char* ClassNameFor(UCHAR peripheralType)
{
    switch (peripheralType) {
    case 0x00:  // direct access
    case 0x07:  // optical memory
        return "PhysicalDrive";
    case 0x01:
        return "Tape";
    case 0x04:  // write-once
    case 0x05:
        return "CdRom";
    case 0x08:
        return "MediaChanger";
    default:
        return nullptr;
    }
}

ClassDevice::ClassDevice(std::shared_ptr<SimulatedPort> port, std::shared_ptr<SimulatedUnit> unit)
    : m_port(std::move(port)), m_unit(std::move(unit))
{
}

BOOL ClassDevice::IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                            DWORD* bytesReturned, DWORD* error)
{
    switch (code) {
    case IOCTL_SCSI_GET_ADDRESS:
        return GetAddress(out, outSize, bytesReturned, error);
    case IOCTL_SCSI_GET_CAPABILITIES: {
        const IO_SCSI_CAPABILITIES caps = m_port->Capabilities();
        return AnswerWith(&caps, sizeof caps, out, outSize, bytesReturned, error);
    }
    case IOCTL_SCSI_PASS_THROUGH_DIRECT:
        return PassThrough(in, inSize, out, outSize, bytesReturned, error);
    default:
        *bytesReturned = 0;
        *error = ERROR_INVALID_FUNCTION;
        return FALSE;
    }
}

BOOL ClassDevice::GetAddress(void* out, DWORD outSize, DWORD* bytesReturned, DWORD* error) const
{
    SCSI_ADDRESS address{};
    address.Length = sizeof address;
    address.PortNumber = static_cast<UCHAR>(m_port->Described().number);
    address.PathId = m_unit->PathId();
    address.TargetId = m_unit->TargetId();
    address.Lun = m_unit->Lun();
    return AnswerWith(&address, sizeof address, out, outSize, bytesReturned, error);
}

// The class driver fills in its unit's address, whatever the caller wrote.
BOOL ClassDevice::PassThrough(const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* bytesReturned,
                              DWORD* error)
{
    PassThroughCall call;
    *error = CheckPassThrough(in, inSize, out, outSize, m_port->MaxTransferBytes(), &call);
    if (*error != ERROR_SUCCESS) {
        *bytesReturned = 0;
        return FALSE;
    }
    call.request.PathId = m_unit->PathId();
    call.request.TargetId = m_unit->TargetId();
    call.request.Lun = m_unit->Lun();
    return CompletePassThrough(call, m_unit->Execute(MakeScsiRequest(call)), bytesReturned, error);
}

}  // namespace harrow::machine
