// "\\.\SCSIn:": one channel of a kernel SCSI host seen as a Windows SCSI
// port device.
#pragma once

#include "machine/linux/LinuxHostAccess.h"
#include "platform/DeviceNamespace.h"

#include <cstdint>
#include <memory>

namespace harrow::machine {

class LinuxPortDevice final : public platform::Device {
public:
    LinuxPortDevice(std::shared_ptr<const LinuxHostAccess> access, unsigned port, const PortSite& site);

    BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* bytesReturned,
                   DWORD* error) override;

private:
    BOOL InquiryData(void* out, DWORD outSize, DWORD* bytesReturned, DWORD* error) const;
    BOOL Capabilities(void* out, DWORD outSize, DWORD* bytesReturned, DWORD* error) const;
    BOOL RescanBus(DWORD* bytesReturned, DWORD* error) const;
    BOOL PassThrough(const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* bytesReturned,
                     DWORD* error) const;

    std::shared_ptr<const LinuxHostAccess> m_access;
    unsigned m_port;
    PortSite m_site;
};

}  // namespace harrow::machine
