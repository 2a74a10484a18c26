// The health a simulated disk keeps: its log pages and the faults a machine
// file gives it, and how it tells a predicted failure (SPC-4 7.5.8, MRIE).
#include "DriveHarness.h"

#include <map>

namespace harrow::machine::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class HealthPagesTest : public DriveTest {};

nlohmann::json Disk(nlohmann::json extra = nlohmann::json::object())
{
    nlohmann::json unit = {{"type", "disk"}, {"blocks", 8192}, {"powerOnHours", 2000}};
    unit.update(extra);
    return unit;
}

Answer LogSense(Drive& drive, std::uint8_t page)
{
    return drive.Send({0x4D, 0, static_cast<std::uint8_t>(0x40 | page), 0, 0, 0, 0, 0x10, 0, 0}, 4096);
}

// Parameters of a LOG SENSE reply by their code.
std::map<int, Bytes> Parameters(const Answer& answer)
{
    std::map<int, Bytes> parameters;
    const std::size_t end = 4 + ((answer.data[2] << 8) | answer.data[3]);
    for (std::size_t at = 4; at + 4 <= end;) {
        const std::size_t length = answer.data[at + 3];
        parameters[(answer.data[at] << 8) | answer.data[at + 1]] =
            Bytes(answer.data.begin() + static_cast<long>(at + 4), answer.data.begin() + static_cast<long>(at + 4 + length));
        at += 4 + length;
    }
    return parameters;
}

std::uint64_t Number(const Bytes& bytes)
{
    std::uint64_t value = 0;
    for (std::uint8_t byte : bytes) value = (value << 8) | byte;
    return value;
}

// MODE SELECT(6) of the informational exceptions control page.
Answer SelectExceptions(Drive& drive, std::uint8_t flags, std::uint8_t mrie, bool save)
{
    Bytes list{0, 0, 0, 0, 0x1C, 0x0A, flags, mrie, 0, 0, 0, 0, 0, 0, 0, 0};
    return drive.Send({0x15, static_cast<std::uint8_t>(save ? 0x11 : 0x10), 0, 0, 16, 0}, 0, list);
}

TEST_F(HealthPagesTest, PagesOfBothMakers)
{
    Drive kestrel(Disk({{"vendor", "KESTREL"}}), folder.Path() / "k");
    Drive other(Disk({{"vendor", "MERIDIAN"}, {"wwn", "5000C500A1B2C3D4"}}), folder.Path() / "m");
    const Answer kestrelList = LogSense(kestrel, 0x00);
    const Answer otherList = LogSense(other, 0x00);
    EXPECT_EQ(Bytes(kestrelList.data.begin() + 4, kestrelList.data.begin() + 4 + kestrelList.data[3]),
              (Bytes{0x00, 0x02, 0x03, 0x05, 0x06, 0x0D, 0x0E, 0x10, 0x15, 0x2F, 0x3E}));
    EXPECT_EQ(Bytes(otherList.data.begin() + 4, otherList.data.begin() + 4 + otherList.data[3]),
              (Bytes{0x00, 0x02, 0x03, 0x05, 0x06, 0x0D, 0x0E, 0x10, 0x15, 0x18, 0x2F}));
    EXPECT_TRUE(HasSense(LogSense(kestrel, 0x18), 5, 0x24, 0)) << "a parallel SCSI drive has no SAS port";

    auto startStop = Parameters(LogSense(kestrel, 0x0E));
    EXPECT_EQ(std::string(startStop[1].begin(), startStop[1].end()).size(), 6u);
    EXPECT_EQ(startStop[2], Bytes(6, ' '));
    EXPECT_EQ(Number(startStop[3]), 50000u);
    EXPECT_EQ(Number(startStop[4]), 2000u / 24);
    EXPECT_EQ(Number(startStop[6]), 2000u * 3);

    auto port = Parameters(LogSense(other, 0x18));
    ASSERT_EQ(port[1].size(), 52u);
    EXPECT_EQ(port[1][0] & 0x0F, 6) << "SAS";
    EXPECT_EQ(port[1][3], 1) << "one phy";
    EXPECT_EQ(port[1][4 + 5] & 0x0F, 0xA) << "6 Gbit/s";
    EXPECT_EQ(Number(Bytes(port[1].begin() + 12, port[1].begin() + 20)), 0x5000C500A1B2C3D4u);

    auto exceptions = Parameters(LogSense(kestrel, 0x2F));
    EXPECT_EQ(exceptions[0], (Bytes{0, 0, 35, 60}));
    EXPECT_EQ(Number(Parameters(LogSense(kestrel, 0x06))[0]), 0u);
}

TEST_F(HealthPagesTest, FaultsFillTheirPages)
{
    Drive drive(Disk({{"referenceTemperature", 50},
                      {"temperature", 55},
                      {"faults",
                       {{"predictedFailure", true},
                        {"risingErrors", {{"corrected", 1000}, {"uncorrected", 3}}},
                        {"failedSelfTestEntry", {{"segment", 4}, {"lba", 4242}}},
                        {"mediumErrors", {700}},
                        {"grownDefects", {100, 200}}}}}),
                folder.Path());
    EXPECT_EQ(Parameters(LogSense(drive, 0x2F))[0], (Bytes{0x5D, 0x10, 55, 50}));
    EXPECT_EQ(Parameters(LogSense(drive, 0x0D))[1], (Bytes{0, 50}));
    for (std::uint8_t page : {0x02, 0x03, 0x05}) {
        auto counters = Parameters(LogSense(drive, page));
        EXPECT_EQ(Number(counters[3]), 2000u) << int(page);
        EXPECT_EQ(Number(counters[6]), 6u) << int(page);
    }
    const auto selfTests = Parameters(LogSense(drive, 0x10));
    ASSERT_EQ(selfTests.size(), 1u);
    const Bytes& entry = selfTests.at(1);
    EXPECT_EQ(entry[0], (2 << 5) | 7) << "background extended, failed in a later segment";
    EXPECT_EQ(entry[1], 4);
    EXPECT_EQ(Number(Bytes(entry.begin() + 2, entry.begin() + 4)), 2000u);
    EXPECT_EQ(Number(Bytes(entry.begin() + 4, entry.begin() + 12)), 4242u);
    EXPECT_EQ((Bytes{entry[12], entry[13], entry[14]}), (Bytes{3, 0x11, 0}));

    const auto scan = Parameters(LogSense(drive, 0x15));
    ASSERT_EQ(scan.size(), 2u);
    EXPECT_EQ(scan.at(0)[5], 0x08);
    EXPECT_EQ(scan.at(1)[4], 0x13) << "reassignment pending, MEDIUM ERROR";
    EXPECT_EQ(Number(Bytes(scan.at(1).begin() + 12, scan.at(1).end())), 700u);

    const Answer defects = drive.Send({0xB7, 0x0C, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0}, 8);
    EXPECT_EQ(defects.result.status, 0);
    EXPECT_EQ(Number(Bytes(defects.data.begin() + 4, defects.data.begin() + 8)), 16u) << "two descriptors";
}

// Each Drive below is a new start of the same drive; the mode page persists.
TEST_F(HealthPagesTest, PredictedFailureToldTheWayTheModePageAsks)
{
    const nlohmann::json failing = Disk({{"faults", {{"predictedFailure", true}}}});
    const Bytes requestSense{0x03, 0, 0, 0, 18, 0};
    const Bytes unitReady{0x00, 0, 0, 0, 0, 0};
    {
        Drive drive(failing, folder.Path());
        // MRIE 6, the default: only REQUEST SENSE tells it.
        const Answer sense = drive.Send(requestSense, 18);
        EXPECT_EQ(sense.result.status, 0);
        EXPECT_EQ((Bytes{static_cast<std::uint8_t>(sense.data[2] & 0x0F), sense.data[12], sense.data[13]}),
                  (Bytes{0, 0x5D, 0x10}));
        EXPECT_EQ(drive.Send(unitReady).result.status, 0);
        ASSERT_EQ(SelectExceptions(drive, 0x00, 2, true).result.status, 0);
    }
    {
        // MRIE 2: a unit attention at the start, once; INQUIRY passes it by.
        Drive drive(failing, folder.Path());
        EXPECT_EQ(drive.Send({0x12, 0, 0, 0, 36, 0}, 36).result.status, 0);
        EXPECT_TRUE(HasSense(drive.Send(unitReady), 6, 0x5D, 0x10));
        EXPECT_EQ(drive.Send(unitReady).result.status, 0);
        ASSERT_EQ(SelectExceptions(drive, 0x00, 4, true).result.status, 0);
    }
    {
        // MRIE 4: the first command that completes carries RECOVERED ERROR, its data moved; once.
        Drive drive(failing, folder.Path());
        const Answer read = drive.Send(Cdb10(0x28, 0, 1), 512);
        EXPECT_TRUE(HasSense(read, 1, 0x5D, 0x10));
        EXPECT_EQ(read.result.transferred, 512u);
        EXPECT_EQ(drive.Send(unitReady).result.status, 0);
        // DEXCPT: nothing is told, the IE page still holds it.
        ASSERT_EQ(SelectExceptions(drive, 0x08, 6, true).result.status, 0);
        EXPECT_EQ(drive.Send(requestSense, 18).data[12], 0);
        EXPECT_EQ(Parameters(LogSense(drive, 0x2F))[0][0], 0x5D);
    }
    Drive healthy(Disk(), folder.Path() / "healthy");
    ASSERT_EQ(SelectExceptions(healthy, 0x00, 4, false).result.status, 0);
    EXPECT_EQ(healthy.Send(unitReady).result.status, 0) << "nothing to tell";
    EXPECT_EQ(healthy.Send(requestSense, 18).data[12], 0);
}

TEST_F(HealthPagesTest, MrieNoSenseRidesOnTheSelectThatSetsIt)
{
    Drive drive(Disk({{"faults", {{"predictedFailure", true}}}}), folder.Path());
    EXPECT_TRUE(HasSense(SelectExceptions(drive, 0x00, 5, false), 0, 0x5D, 0x10));
    EXPECT_EQ(drive.Send({0x00, 0, 0, 0, 0, 0}).result.status, 0);
}

TEST_F(HealthPagesTest, BadHealthFaultsAreRefusedByName)
{
    struct Case {
        nlohmann::json faults;
        const char* field;
    };
    std::vector<std::uint64_t> tooMany(257);
    for (std::size_t i = 0; i < tooMany.size(); ++i) tooMany[i] = i;
    const Case cases[] = {
        {{{"predictedFailure", 1}}, "faults.predictedFailure"},
        {{{"risingErrors", {{"uncorrected", -1}}}}, "faults.risingErrors.uncorrected"},
        {{{"risingErrors", {{"hard", 1}}}}, "faults.risingErrors.hard"},
        {{{"failedSelfTestEntry", {{"segment", 9}}}}, "faults.failedSelfTestEntry.segment"},
        {{{"failedSelfTestEntry", {{"lba", 8192}}}}, "faults.failedSelfTestEntry.lba"},
        {{{"grownDefects", {8192}}}, "faults.grownDefects[0]"},
        {{{"grownDefects", tooMany}}, "faults.grownDefects"},
    };
    for (const Case& c : cases) {
        try {
            Drive drive(Disk({{"faults", c.faults}}), folder.Path());
            ADD_FAILURE() << c.field << " was taken";
        } catch (const MachineFileError& e) {
            EXPECT_NE(std::string(e.what()).find(c.field), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace harrow::machine::testing
