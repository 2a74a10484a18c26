#include "machine/NoxClassDevice.h"

#include "machine/SimulatedPort.h"

#include <cstring>

namespace harrow::machine {

NoxClassDevice::NoxClassDevice(std::vector<NoxPortEntry> ports) : m_ports(std::move(ports)) {}

BOOL NoxClassDevice::IoControl(DWORD code, const void*, DWORD, void* out, DWORD outSize, DWORD* bytesReturned,
                               DWORD* error)
{
    if (code != IOCTL_NOX_GET_PORTS) {
        *error = ERROR_INVALID_FUNCTION;
        return FALSE;
    }
    const auto count = static_cast<DWORD>(m_ports.size());
    std::vector<BYTE> answer(sizeof count + count * sizeof(NoxPortEntry));
    std::memcpy(answer.data(), &count, sizeof count);
    if (count != 0) {
        std::memcpy(answer.data() + sizeof count, m_ports.data(), count * sizeof(NoxPortEntry));
    }
    return AnswerWith(answer.data(), static_cast<DWORD>(answer.size()), out, outSize, bytesReturned, error);
}

}  // namespace harrow::machine
