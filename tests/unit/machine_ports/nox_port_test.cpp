#include "FakeUnit.h"

#include "machine/NoxClassDevice.h"
#include "machine/SimulatedMachine.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace harrow::machine;
using harrow::machine::testing::FakeFactory;

namespace {

std::string ErrorOf(const std::string& text)
{
    try {
        ParseMachineText(text, "lab.json", "lab");
    } catch (const MachineFileError& e) {
        return e.what();
    }
    return "(accepted)";
}

}  // namespace

TEST(NoxPorts, FieldsAndTheirChecks)
{
    const MachineSpec parsed = ParseMachineText(
        R"({"ports": [{"driver": "aic78xx", "units": []},
                      {"driver": "lp6nds35", "nox": true, "noxHidden": true, "noxPseudo": false, "units": []}]})",
        "lab.json", "lab");
    EXPECT_FALSE(parsed.ports[0].nox);
    EXPECT_TRUE(parsed.ports[0].noxPseudo);
    EXPECT_TRUE(parsed.ports[1].nox);
    EXPECT_TRUE(parsed.ports[1].noxHidden);
    EXPECT_FALSE(parsed.ports[1].noxPseudo);
    // The maker's Fibre Channel drivers are Nox ports unless the file says otherwise.
    const MachineSpec named = ParseMachineText(
        R"({"ports": [{"driver": "LP6NDS35", "units": []}, {"driver": "elxsli2", "nox": false, "units": []}]})",
        "lab.json", "lab");
    EXPECT_TRUE(named.ports[0].nox);
    EXPECT_FALSE(named.ports[1].nox);

    EXPECT_EQ(ErrorOf(R"({"ports": [{"driver": "x", "nox": 1, "units": []}]})"),
              "lab.json: ports[0].nox: must be true or false");
    EXPECT_EQ(ErrorOf(R"({"ports": [{"driver": "x", "noxHidden": true, "units": []}]})"),
              "lab.json: ports[0].noxHidden: needs \"nox\": true");
    EXPECT_EQ(ErrorOf(R"({"ports": [{"driver": "atapi", "nox": true, "units": []}]})"),
              "lab.json: ports[0].nox: an IDE channel is not driven by the Nox driver");
}

TEST(NoxPorts, ClassDeviceListsTheNoxPortsOnly)
{
    FakeFactory fakes;
    DWORD error = 0;
    SimulatedMachine plain(ParseMachineText(R"({"ports": [{"driver": "aic78xx", "units": []}]})", "t.json", "t"),
                                 "t.json", "/state-root", fakes.Factory());
    EXPECT_FALSE(plain.Open("NOXCLASS", 0, &error));
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);

    SimulatedMachine machine(
        ParseMachineText(R"({"ports": [{"driver": "aic78xx", "units": []},
          {"port": 4, "driver": "lp6nds35", "nox": true, "buses": 3, "targetsPerBus": 31, "initiatorId": 255,
           "noxHidden": true, "units": []}]})",
                         "t.json", "t"),
        "t.json", "/state-root", fakes.Factory());
    auto device = machine.Open("noxclass", 0, &error);
    ASSERT_TRUE(device);
    BYTE answer[64] = {};
    DWORD returned = 0;
    ASSERT_TRUE(device->IoControl(IOCTL_NOX_GET_PORTS, nullptr, 0, answer, sizeof answer, &returned, &error));
    ASSERT_EQ(returned, 4 + sizeof(NoxPortEntry));
    DWORD count = 0;
    std::memcpy(&count, answer, sizeof count);
    NoxPortEntry entry{};
    std::memcpy(&entry, answer + 4, sizeof entry);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(entry.port, 4u);
    EXPECT_EQ(entry.buses, 3);
    EXPECT_EQ(entry.initiatorId, 255);
    EXPECT_EQ(entry.hidden, 1);
    EXPECT_EQ(entry.pseudo, 1);
    // Too small a buffer is refused, an unknown code too.
    EXPECT_FALSE(device->IoControl(IOCTL_NOX_GET_PORTS, nullptr, 0, answer, 8, &returned, &error));
    EXPECT_EQ(error, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(device->IoControl(0x12345678, nullptr, 0, answer, sizeof answer, &returned, &error));
    EXPECT_EQ(error, ERROR_INVALID_FUNCTION);
}
