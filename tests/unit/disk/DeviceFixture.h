// Each test gets its own registry, state folder and simulated machine, and
// reaches its devices through the NT port transport on adapter 0.
#pragma once

#include "core/devices/SCSIDevice.h"
#include "core/system/CHostAdapter.h"
#include "core/transport/NTPortRequest.h"
#include "core/types/CEventError.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace disk_test {

class PortAdapter final : public CHostAdapter {
public:
    PortAdapter() : CHostAdapter(0) {}
    CScsiIoCtl* CreateIoCtl(const CDevAddress& address, unsigned char blockIndex) override;
    Error_t Rescan() override { return ERR_NONE; }
};

class DeviceFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the machine the JSON text describes.
    void StartMachine(const std::string& json);

    // The device the scan would build for target, initialised.
    template <typename Device>
    std::unique_ptr<Device> Make(int target)
    {
        SCSIDevice probe(&m_Adapter, 0, target, 0);
        EXPECT_EQ(probe.Init(), ERR_NONE);
        auto device = std::make_unique<Device>(&probe);
        EXPECT_EQ(device->Init(), ERR_NONE);
        return device;
    }

    std::filesystem::path m_Dir;
    PortAdapter m_Adapter;
};

// Runs a command expected to fail and hands back its event.
template <typename Command>
std::unique_ptr<CEventError> Failure(Command command)
{
    try {
        command();
    } catch (CEventBase* event) {
        auto* error = dynamic_cast<CEventError*>(event);
        if (error == nullptr) {
            delete event;
        }
        return std::unique_ptr<CEventError>(error);
    }
    ADD_FAILURE() << "the command did not throw";
    return nullptr;
}

// The last request block index sent, as the port saw it.
const NTPortRequest_s& Sent(SCSIDevice& device, unsigned long index = 0);
std::vector<std::uint8_t> SentCdb(SCSIDevice& device, unsigned long index = 0);

}  // namespace disk_test
