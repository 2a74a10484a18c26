// "\\.\SCSIn:" of an iSCSI port: bus list, capabilities, rescan and
// pass-through, answered the way the Windows port driver answers them.
#pragma once

#include "machine/iscsi/IscsiPort.h"
#include "platform/DeviceNamespace.h"

#include <memory>

namespace harrow::machine {

class IscsiPortDevice final : public platform::Device {
public:
    explicit IscsiPortDevice(std::shared_ptr<IscsiPort> port);

    BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* bytesReturned,
                   DWORD* error) override;

private:
    std::shared_ptr<IscsiPort> m_port;
};

}  // namespace harrow::machine
