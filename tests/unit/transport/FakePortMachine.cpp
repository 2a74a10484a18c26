#include "FakePortMachine.h"

#include "machine/PortLayout.h"
#include "platform/Registry.h"

#include <cstring>
#include <strings.h>

namespace transport_test {
namespace {

using harrow::platform::Device;
using harrow::platform::RegistryKey;

class FakeDevice final : public Device {
public:
    // Made under the state's lock.
    FakeDevice(std::shared_ptr<FakeState> state, std::string name, int port)
        : m_State(std::move(state)), m_Name(std::move(name)), m_Port(port)
    {
        ++m_State->openDevices;
    }
    ~FakeDevice() override
    {
        std::lock_guard guard(m_State->lock);
        --m_State->openDevices;
    }

    BOOL IoControl(DWORD code, const void*, DWORD, void* out, DWORD outSize, DWORD* returned,
                   DWORD* error) override
    {
        if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT) {
            return PassThrough(out, error, returned);
        }
        std::lock_guard guard(m_State->lock);
        m_State->portCodes.push_back(code);
        switch (code) {
        case IOCTL_SCSI_GET_INQUIRY_DATA: {
            const FakePort& port = m_State->ports.at(static_cast<std::size_t>(m_Port));
            if (port.refusesList) {
                *error = ERROR_IO_DEVICE;
                return FALSE;
            }
            const std::vector<BYTE> list = port.rawBusList.empty() ? BuildBusList(port) : port.rawBusList;
            *returned = static_cast<DWORD>(std::min<std::size_t>(list.size(), outSize));
            std::memcpy(out, list.data(), *returned);
            return TRUE;
        }
        case IOCTL_SCSI_GET_ADDRESS: {
            const SCSI_ADDRESS& address = m_State->classDevices.at(m_Name);
            std::memcpy(out, &address, sizeof address);
            *returned = sizeof address;
            return TRUE;
        }
        case IOCTL_SCSI_GET_CAPABILITIES:
            *returned = 0;
            return TRUE;
        case IOCTL_SCSI_RESCAN_BUS:
            *returned = 0;
            if (m_State->ports.at(static_cast<std::size_t>(m_Port)).refusesRescan) {
                *error = ERROR_IO_DEVICE;
                return FALSE;
            }
            return TRUE;
        default:
            *error = ERROR_INVALID_FUNCTION;
            return FALSE;
        }
    }

private:
    BOOL PassThrough(void* out, DWORD* error, DWORD* returned)
    {
        PassThroughAnswer answer;
        {
            std::lock_guard guard(m_State->lock);
            m_State->sentTo.push_back(m_Name);
            answer = m_State->answer;
        }
        auto* request = static_cast<NTPortRequest_s*>(out);
        *returned = sizeof *request;
        return !answer || answer(*request, error) ? TRUE : FALSE;
    }

    std::shared_ptr<FakeState> m_State;
    std::string m_Name;
    int m_Port;  // -1 for a class device
};

int PortNumber(const std::string& name)
{
    if (name.size() < 6 || strncasecmp(name.c_str(), "SCSI", 4) != 0 || name.back() != ':') {
        return -1;
    }
    return std::stoi(name.substr(4, name.size() - 5));
}

std::vector<BYTE> SzValue(const std::string& text)
{
    std::vector<BYTE> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

}  // namespace

std::unique_ptr<Device> FakePortMachine::Open(const std::string& name, DWORD, DWORD* error)
{
    std::lock_guard guard(m_State->lock);
    const int port = PortNumber(name);
    if (port >= 0 && port < static_cast<int>(m_State->ports.size())) {
        return std::make_unique<FakeDevice>(m_State, "SCSI" + std::to_string(port) + ":", port);
    }
    ++m_State->classOpenTries;
    if (m_State->classDevices.count(name) != 0) {
        return std::make_unique<FakeDevice>(m_State, name, -1);
    }
    *error = ERROR_FILE_NOT_FOUND;
    return nullptr;
}

std::vector<RegistryKey> FakePortMachine::DeviceMap() const
{
    std::lock_guard guard(m_State->lock);
    std::vector<RegistryKey> keys;
    for (std::size_t n = 0; n < m_State->ports.size(); ++n) {
        const FakePort& port = m_State->ports[n];
        keys.push_back({"Scsi Port " + std::to_string(n),
                        {{"Driver", REG_SZ, SzValue(port.driver)}, {"DeviceName", REG_SZ, SzValue(port.deviceName)}}});
    }
    return keys;
}

std::vector<BYTE> BuildBusList(const FakePort& port)
{
    harrow::machine::ListedPort listed;
    listed.buses = port.buses;
    listed.initiatorId = port.initiatorId;
    for (const FakeUnit& unit : port.units) {
        harrow::machine::ListedUnit entry{unit.path, unit.target, unit.lun, unit.claimed, {}};
        entry.inquiry[0] = unit.claimed ? 0x00 : 0x01;  // marks which entry a test reads
        listed.units.push_back(entry);
    }
    return harrow::machine::BuildBusInfo(listed);
}

}  // namespace transport_test
