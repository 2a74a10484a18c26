#include "platform/DeviceNamespace.h"

namespace harrow::platform {

BOOL Device::Read(void*, DWORD, DWORD* done, DWORD* error)
{
    *done = 0;
    *error = ERROR_INVALID_FUNCTION;
    return FALSE;
}

BOOL Device::Write(const void*, DWORD, DWORD* done, DWORD* error)
{
    *done = 0;
    *error = ERROR_INVALID_FUNCTION;
    return FALSE;
}

std::optional<DWORD> Machine::AspiBufferLimit() const { return std::nullopt; }

}  // namespace harrow::platform
