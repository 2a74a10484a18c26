#include "machine/BuiltinMachine.h"
#include "machine/MachineFile.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

using namespace harrow::machine;

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

TEST(MachineFile, RefusesBadFieldsNamingFileAndField)
{
    const std::pair<const char*, const char*> cases[] = {
        {R"({"ports": [)", "lab.json: not valid JSON"},
        {R"({"ports": 1e999})", "lab.json: not valid JSON"},
        {R"([])", "lab.json: top level: must be an object"},
        {R"({})", "lab.json: ports: is missing"},
        {R"({"ports": {}})", "lab.json: ports: must be an array"},
        {R"({"ports": [], "colour": 1})", "lab.json: colour: is not a known field"},
        {R"({"name": "../x", "ports": []})", "lab.json: name: must be 1 to 64"},
        {R"({"ports": [{"units": []}]})", "lab.json: ports[0].driver: is missing"},
        {R"({"ports": [{"driver": "a\\b", "units": []}]})", "lab.json: ports[0].driver: must be printable"},
        {R"({"ports": [{"driver": "x", "units": [], "initiatorID": 7}]})",
         "lab.json: ports[0].initiatorID: is not a known field"},
        {R"({"ports": [{"driver": "x", "port": 256, "units": []}]})",
         "lab.json: ports[0].port: must be from 0 to 255"},
        {R"({"ports": [{"driver": "x", "buses": 9, "units": []}]})",
         "lab.json: ports[0].buses: must be from 1 to 8"},
        {R"({"ports": [{"driver": "x", "initiatorId": 16, "units": []}]})",
         "lab.json: ports[0].initiatorId: must be below targetsPerBus"},
        {R"({"ports": [{"driver": "x", "units": [{"target": "1"}]}]})",
         "lab.json: ports[0].units[0].target: must be a whole number"},
        {R"({"ports": [{"driver": "x", "units": [{"bus": 0}]}]})",
         "lab.json: ports[0].units[0].target: is missing"},
        {R"({"ports": [{"driver": "x", "units": [{"target": 7}]}]})",
         "lab.json: ports[0].units[0].target: is the port's own initiator ID"},
        {R"({"ports": [{"driver": "x", "units": [{"target": 1, "lun": 8}]}]})",
         "lab.json: ports[0].units[0].lun: must be from 0 to 7"},
        {R"({"ports": [{"driver": "x", "units": [{"target": 1, "bus": 1}]}]})",
         "lab.json: ports[0].units[0].bus: must be from 0 to 0"},
        {R"({"ports": [{"driver": "x", "units": [{"target": 1, "claimed": 1}]}]})",
         "lab.json: ports[0].units[0].claimed: must be true or false"},
        {R"({"ports": [{"driver": "x", "units": [{"target": 1}, {"target": 1}]}]})",
         "lab.json: ports[0].units[1]: another unit already has"},
        {R"({"ports": [{"driver": "x", "units": []}, {"driver": "y", "port": 0, "units": []}]})",
         "lab.json: ports[1].port: port 0 is given twice"},
        {R"({"ports": [{"driver": "atapi", "units": [{"target": 2}]}]})",
         "lab.json: ports[0].units[0].target: must be from 0 to 1"},
        {R"({"ports": [{"driver": "aic78xx", "targetsPerBus": 128, "units": [{"target": 16}]}]})",
         "lab.json: ports[0].units[0]: is out of reach: driver \"aic78xx\" with initiator ID 7 is addressed as "
         "buses 0 to 0 of 16 targets"},
        {R"({"ports": [{"driver": "lp6nds35", "buses": 2, "targetsPerBus": 32, "units": [{"bus": 0, "target": 3}]}]})",
         "lab.json: ports[0].units[0]: is out of reach: driver \"lp6nds35\" with initiator ID 7 is addressed as "
         "buses 1 to 1 of 31 targets"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(ErrorOf(text).rfind(expected, 0), 0u) << text << "\n  gave: " << ErrorOf(text);
    }
}

TEST(MachineFile, DefaultsFollowThePortKind)
{
    const MachineSpec described = ParseMachineText(R"({"ports": [
        {"port": 3, "driver": "aic78xx", "units": [{"target": 15, "claimed": false, "vendor": "X"}]},
        {"driver": "ATAPI", "units": [{"target": 1}]}]})",
                                              "lab.json", "lab");
    ASSERT_EQ(described.ports.size(), 2u);
    const PortSpec& ide = described.ports[0];  // sorted by number: index 1 defaults to port 1
    EXPECT_EQ(ide.number, 1);
    EXPECT_TRUE(ide.IsIdeChannel());
    EXPECT_EQ(ide.initiatorId, kNoInitiator);
    EXPECT_EQ(ide.targetsPerBus, 2);
    EXPECT_EQ(ide.deviceName, "ScsiPort1");
    const PortSpec& scsi = described.ports[1];
    EXPECT_EQ(scsi.number, 3);
    EXPECT_EQ(scsi.initiatorId, 7);
    EXPECT_EQ(scsi.targetsPerBus, 16);
    EXPECT_EQ(scsi.buses, 1);
    ASSERT_EQ(scsi.units.size(), 1u);
    EXPECT_EQ(scsi.units[0].where, "ports[0].units[0]");
    EXPECT_EQ(scsi.units[0].claimed, std::optional<bool>(false));
}

TEST(MachineFile, ReadsFilesAndNamesThemInErrors)
{
    const auto dir = test_support::MakeTestHome("machine-file");
    const auto path = (dir / "my lab.json").string();
    std::ofstream(path) << R"({"ports": [{"driver": "x", "units": [{"target": 99}]}]})";
    try {
        ReadMachineFile(path);
        FAIL() << "accepted";
    } catch (const MachineFileError& e) {
        EXPECT_EQ(std::string(e.what()), path + ": ports[0].units[0].target: must be from 0 to 15");
    }
    std::ofstream(path) << R"({"ports": []})";
    EXPECT_EQ(ReadMachineFile(path).name, "my_lab");
    EXPECT_THROW(ReadMachineFile((dir / "absent.json").string()), MachineFileError);
    test_support::LeaveTestHome(dir);
}

TEST(MachineFile, BuiltinAndExampleMachinesParse)
{
    const MachineSpec builtin = ParseMachineText(BuiltinMachineText(), "built-in machine", "builtin");
    EXPECT_EQ(builtin.name, "builtin");
    std::set<std::string> drivers;
    std::set<std::string> types;
    for (const PortSpec& port : builtin.ports) {
        drivers.insert(port.driver);
        for (const UnitSpec& unit : port.units) {
            types.insert(unit.json.value("type", "disk"));
        }
    }
    EXPECT_TRUE(drivers.count("atapi"));
    EXPECT_GE(drivers.size(), 3u);
    EXPECT_EQ(types, (std::set<std::string>{"disk", "tape", "cdrom", "changer"}));

    const auto example = std::filesystem::path(__FILE__).parent_path() / "../../../docs/example-machine.json";
    EXPECT_NO_THROW(ReadMachineFile(example.string()));
}
