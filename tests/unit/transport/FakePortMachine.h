// A machine of hand-made SCSI ports for the NT port transport's tests: its
// bus lists, class devices and pass-through answers are whatever a test sets.
#pragma once

#include "core/transport/NTPortRequest.h"
#include "platform/DeviceNamespace.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace transport_test {

struct FakeUnit {
    UCHAR path = 0;
    UCHAR target = 0;
    UCHAR lun = 0;
    bool claimed = false;
};

struct FakePort {
    std::string driver = "aic78xx";
    std::string deviceName = "aic78xx1";
    int buses = 1;
    UCHAR initiatorId = 7;
    std::vector<FakeUnit> units;
    bool refusesRescan = false;
    bool refusesList = false;
    // Replaces the built bus list when not empty.
    std::vector<BYTE> rawBusList;
};

// Answers one pass-through request in place; false fails the call with *error.
using PassThroughAnswer = std::function<bool(NTPortRequest_s& request, DWORD* error)>;

struct FakeState {
    std::mutex lock;
    std::vector<FakePort> ports;
    std::map<std::string, SCSI_ADDRESS> classDevices;  // "PhysicalDrive0" -> its address
    PassThroughAnswer answer;
    // Names a pass-through request went to, in order ("SCSI0:", "PhysicalDrive1").
    std::vector<std::string> sentTo;
    std::vector<DWORD> portCodes;  // control codes other than pass-through
    int openDevices = 0;
    int classOpenTries = 0;  // names tried that were not ports, found or not
};

class FakePortMachine final : public harrow::platform::Machine {
public:
    explicit FakePortMachine(std::shared_ptr<FakeState> state) : m_State(std::move(state)) {}

    std::unique_ptr<harrow::platform::Device> Open(const std::string& name, DWORD access, DWORD* error) override;
    std::vector<harrow::platform::RegistryKey> DeviceMap() const override;

private:
    std::shared_ptr<FakeState> m_State;
};

// SCSI_ADAPTER_BUS_INFO with its chains, as a port returns it.
std::vector<BYTE> BuildBusList(const FakePort& port);

}  // namespace transport_test
