// Doubles and fixtures shared by the device tests: a scripted control block
// that records every command it is given, an adapter that makes either those
// or real NT port blocks, and a fixture with private folders and a buffer manager.
#pragma once

#include "core/devices/SCSIDevice.h"
#include "core/system/CHostAdapter.h"
#include "core/transport/CScsiIoCtl.h"
#include "core/types/CEventBase.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace devices_test {

// What one issue of a command looked like to the transport.
struct Issued {
    std::vector<std::uint8_t> Cdb;  // CdbLength bytes
    unsigned long DataLength = 0;
    unsigned long Flags = 0;
    long Timeout = 0;
    unsigned long BufferLength = 0;
};

// How the transport answers one issue; the default is a good completion.
struct Answer {
    Error_t Status = ERR_CMD_COMPLETE;
    int SenseKey = -1;  // >= 0 fills fixed-format sense with this key
    std::vector<std::uint8_t> Data;  // copied into the data buffer, cut to the transfer length
    Error_t DoIoResult = ERR_NONE;
};

// Shared between a test and every block its adapter makes.
struct Script {
    std::deque<Answer> Answers;
    std::vector<Issued> Log;
    bool TaggedQueuing = false;
};

class ScriptedIoCtl final : public CScsiIoCtl {
public:
    ScriptedIoCtl(const CDevAddress& address, unsigned char index, std::shared_ptr<Script> script);

    Error_t DoIO() override;
    Error_t GetDriverStatus() override { return m_LastAnswer; }
    unsigned char* GetCdb(bool clear) override;
    Error_t SetBuffer(void* data, long length) override;
    Error_t CompleteCmd(unsigned char cdbLength, unsigned long dataLength, unsigned long flags, long timeout,
                        unsigned long lba, unsigned long blocks, unsigned char option) override;
    Error_t IsCommandComplete() override;
    SCSI_SenseData_s* GetSenseData() override;
    unsigned char GetCdbLen() override;
    void FillSRB(void*) override {}
    bool GetIOStatii(Error_t* srb, Error_t* ha, Error_t* target) override;
    Error_t SetQueueType(QTYPE_ENUM type) override;
    Error_t ProcessError() override { return ERR_CHECK_CONDITION; }

private:
    struct Request {
        unsigned char Cdb[16];
        unsigned char CdbLength;
        SCSI_SenseData_s Sense;
    };
    Request* Req() const { return reinterpret_cast<Request*>(RequestBytes()); }

    std::shared_ptr<Script> m_Script;
    void* m_Data = nullptr;
    Issued m_Built;
    Error_t m_LastAnswer = ERR_NONE;
};

// Makes scripted blocks, or NT port blocks on the active machine.
class FakeAdapter final : public CHostAdapter {
public:
    explicit FakeAdapter(int number, bool ntPort = false) : CHostAdapter(number), m_bNtPort(ntPort) {}
    CScsiIoCtl* CreateIoCtl(const CDevAddress& address, unsigned char blockIndex) override;
    Error_t Rescan() { return ERR_NONE; }

    std::shared_ptr<Script> script = std::make_shared<Script>();
    // Blocks still to be made before CreateIoCtl answers null; negative for no limit.
    int blocksLeft = -1;

private:
    bool m_bNtPort;
};

// Opens the protected command path and lock set-up to the tests.
class TestDevice : public SCSIDevice {
public:
    using SCSIDevice::SCSIDevice;
    using SCSIDevice::DoIo;
    using SCSIDevice::RunCommand;
    using OrbDevice::_InitCritSects;
    using OrbDevice::_DeleteCritSects;
};

// Private registry, state and home folders; the heap buffer manager.
class DeviceFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Writes a machine file and makes it the active machine, with a fresh port driver.
    void UseMachine(const std::string& json);

    std::filesystem::path m_Dir;
};

// A device on a scripted adapter with block 0 in place (LUN as given).
std::unique_ptr<TestDevice> ScriptedDevice(FakeAdapter& adapter, unsigned long lun = 0);

// The fixture with one scripted device made for each test.
class ScriptedFixture : public DeviceFixture {
protected:
    explicit ScriptedFixture(int adapter = 0, unsigned long lun = 0) : m_Adapter(adapter), m_Lun(lun) {}
    void SetUp() override
    {
        DeviceFixture::SetUp();
        m_Device = ScriptedDevice(m_Adapter, m_Lun);
    }
    void TearDown() override
    {
        m_Device.reset();
        DeviceFixture::TearDown();
    }

    FakeAdapter m_Adapter;
    unsigned long m_Lun;
    std::unique_ptr<TestDevice> m_Device;
};

}  // namespace devices_test
