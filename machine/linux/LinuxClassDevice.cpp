#include "machine/linux/LinuxClassDevice.h"

#include <cstring>

namespace harrow::machine {

LinuxClassDevice::LinuxClassDevice(std::shared_ptr<const LinuxHostAccess> access, const SysfsUnit& unit,
                                   unsigned port)
    : m_access(std::move(access)), m_address(unit.address), m_path(unit.path), m_port(port)
{
}

BOOL LinuxClassDevice::IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                                 DWORD* bytesReturned, DWORD* error)
{
    *bytesReturned = 0;
    switch (code) {
    case IOCTL_SCSI_GET_ADDRESS: return Address(out, outSize, bytesReturned, error);
    case IOCTL_SCSI_PASS_THROUGH_DIRECT: {
        // The class driver addresses its own unit, whatever the caller wrote.
        PassThroughCall call;
        if (const DWORD invalid = CheckPassThrough(in, inSize, out, outSize, kAnyLength, &call); invalid != 0) {
            *error = invalid;
            return FALSE;
        }
        return m_access->PassThrough(m_address, m_path, call, bytesReturned, error);
    }
    default: *error = ERROR_INVALID_FUNCTION; return FALSE;
    }
}

BOOL LinuxClassDevice::Address(void* out, DWORD outSize, DWORD* bytesReturned, DWORD* error) const
{
    SCSI_ADDRESS address{};
    if (out == nullptr || outSize < sizeof address) {
        *error = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    address.Length = sizeof address;
    address.PortNumber = static_cast<UCHAR>(m_port);
    address.PathId = m_path.pathId;
    address.TargetId = m_path.targetId;
    address.Lun = m_address.lun;
    std::memcpy(out, &address, sizeof address);
    *bytesReturned = sizeof address;
    return TRUE;
}

}  // namespace harrow::machine
