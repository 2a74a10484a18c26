// Log page decoders on canned page bytes laid out as SPC-4 and SBC-3 give them,
// including pages whose parameter lengths run past the page or the reply.
#include "frontend/DriveHealth.h"
#include "frontend/LogPageDecoders.h"
#include "frontend/LogPageView.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A page: code, subpage 0, length from the parameters given.
Bytes Page(int code, const Bytes& parameters)
{
    Bytes page{static_cast<std::uint8_t>(code), 0, static_cast<std::uint8_t>(parameters.size() >> 8),
               static_cast<std::uint8_t>(parameters.size())};
    page.insert(page.end(), parameters.begin(), parameters.end());
    return page;
}

// One parameter: code, control, length from the value.
Bytes Parameter(std::uint16_t code, const Bytes& value, std::uint8_t control = 0x02)
{
    Bytes bytes{static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code), control,
                static_cast<std::uint8_t>(value.size())};
    bytes.insert(bytes.end(), value.begin(), value.end());
    return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(LogPageView, WalksParametersInsideThePage)
{
    const Bytes page = Page(0x06, Join({Parameter(0x0000, {0, 0, 0, 7}), Parameter(0x8000, {1})}));
    const LogPageView view(page);
    ASSERT_TRUE(view.Valid());
    EXPECT_EQ(view.PageCode(), 0x06);
    ASSERT_EQ(view.Parameters().size(), 2u);
    EXPECT_EQ(view.Parameters()[1].code, 0x8000);
    EXPECT_EQ(view.Parameters()[0].control, 0x02);
    EXPECT_FALSE(view.Cut());
    EXPECT_EQ(DecodeNonMediumErrors(view), 7u);
}

TEST(LogPageView, BoundsEveryWalk)
{
    struct Case {
        const char* name;
        Bytes reply;
        std::size_t parameters;
        bool cut;
    };
    const Case cases[] = {
        {"shorter than the header", {0x06, 0x00, 0x00}, 0, false},
        {"empty page", {0x06, 0x00, 0x00, 0x00}, 0, false},
        // Parameter length 8 with only 4 value bytes in the page: never read.
        {"parameter past the page", {0x06, 0, 0, 8, 0, 0, 0, 8, 1, 2, 3, 4}, 0, true},
        // Page length 200 but only 12 bytes came (allocation length cut it).
        {"page past the reply", {0x06, 0, 0, 200, 0, 0, 0, 4, 0, 0, 0, 9}, 1, true},
        // Three stray bytes after the last whole parameter.
        {"half a header at the end", {0x06, 0, 0, 11, 0, 0, 0, 4, 0, 0, 0, 9, 0, 1, 2}, 1, true},
        // The page length ends inside the second parameter, although the buffer goes on.
        {"page length ends a parameter", {0x06, 0, 0, 9, 0, 0, 0, 1, 5, 0, 1, 0, 4, 0, 0, 0, 1}, 1, true},
    };
    for (const Case& c : cases) {
        const LogPageView view(c.reply);
        EXPECT_EQ(view.Valid(), c.reply.size() >= 4) << c.name;
        EXPECT_EQ(view.Parameters().size(), c.parameters) << c.name;
        EXPECT_EQ(view.Cut(), c.cut) << c.name;
        for (const LogParameter& parameter : view.Parameters()) {
            EXPECT_LE(parameter.value.data() + parameter.value.size(), c.reply.data() + c.reply.size()) << c.name;
        }
    }
}

TEST(LogPageView, ValuesOfOneToEightBytesOnly)
{
    EXPECT_EQ(BigEndianValue(Bytes{0x01}), 1u);
    EXPECT_EQ(BigEndianValue(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), ~0ULL);
    EXPECT_EQ(BigEndianValue(Bytes{}), std::nullopt);
    EXPECT_EQ(BigEndianValue(Bytes(9, 0)), std::nullopt);
    EXPECT_EQ(FieldAt(Bytes{1, 2, 3}, 1, 2), 0x0203u);
    EXPECT_EQ(FieldAt(Bytes{1, 2, 3}, 2, 2), std::nullopt);
    EXPECT_EQ(FieldAt(Bytes{1, 2, 3}, 4, 1), std::nullopt);
}

TEST(SupportedPages, ListsEachCode)
{
    const Bytes page{0x00, 0x00, 0x00, 0x05, 0x00, 0x02, 0x0D, 0x10, 0x2F};
    EXPECT_EQ(DecodeSupportedPages(LogPageView(page)), (std::vector<int>{0x00, 0x02, 0x0D, 0x10, 0x2F}));
    // A list longer than what arrived stops at the end of the reply.
    const Bytes cut{0x00, 0x00, 0x00, 0x40, 0x00, 0x03};
    EXPECT_EQ(DecodeSupportedPages(LogPageView(cut)), (std::vector<int>{0x00, 0x03}));
}

TEST(ErrorCounters, ReadsParametersZeroToSix)
{
    // SPC-4 table 331: 0000h-0004h counters, 0005h bytes processed, 0006h uncorrected.
    const Bytes page = Page(0x03, Join({Parameter(0x0000, {0, 0, 0, 10}), Parameter(0x0001, {0, 0, 0, 11}),
                                        Parameter(0x0002, {0, 0, 0, 12}), Parameter(0x0003, {0, 0, 0, 21}),
                                        Parameter(0x0004, {0, 0, 0, 22}),
                                        Parameter(0x0005, {0, 0, 0, 1, 0, 0, 0, 0}),
                                        Parameter(0x0006, {0, 3})}));
    const ErrorCounters counters = DecodeErrorCounters(LogPageView(page));
    EXPECT_EQ(counters.correctedFast, 10u);
    EXPECT_EQ(counters.correctedDelayed, 11u);
    EXPECT_EQ(counters.repeated, 12u);
    EXPECT_EQ(counters.corrected, 21u);
    EXPECT_EQ(counters.algorithmRuns, 22u);
    EXPECT_EQ(counters.bytesProcessed, 1ULL << 32);
    EXPECT_EQ(counters.uncorrected, 3u);
}

TEST(ErrorCounters, LeavesOutWhatThePageLacks)
{
    // Only bytes processed, and an uncorrected counter of 9 bytes that fits no field.
    const Bytes page =
        Page(0x02, Join({Parameter(0x0005, {0, 0, 0, 0, 0, 0, 2, 0}), Parameter(0x0006, Bytes(9, 1))}));
    const ErrorCounters counters = DecodeErrorCounters(LogPageView(page));
    EXPECT_EQ(counters.bytesProcessed, 512u);
    EXPECT_FALSE(counters.corrected);
    EXPECT_FALSE(counters.correctedFast);
    EXPECT_FALSE(counters.uncorrected);
}

TEST(Temperatures, CurrentAndReferenceWithoutNoReading)
{
    const Bytes page = Page(0x0D, Join({Parameter(0x0000, {0, 41}), Parameter(0x0001, {0, 60})}));
    const Temperatures both = DecodeTemperatures(LogPageView(page));
    EXPECT_EQ(both.current, 41);
    EXPECT_EQ(both.reference, 60);
    // FFh is "no reading" (SPC-4 7.3.20); a one-byte value holds none.
    const Bytes none = Page(0x0D, Join({Parameter(0x0000, {0, 0xFF}), Parameter(0x0001, {0})}));
    const Temperatures neither = DecodeTemperatures(LogPageView(none));
    EXPECT_FALSE(neither.current);
    EXPECT_FALSE(neither.reference);
}

TEST(StartStop, DatesAndCycles)
{
    const Bytes page = Page(0x0E, Join({Parameter(0x0001, {'2', '0', '2', '4', '0', '7'}, 0x01),
                                        Parameter(0x0002, {' ', ' ', ' ', ' ', ' ', ' '}, 0x01),
                                        Parameter(0x0003, {0, 0, 0xC3, 0x50}), Parameter(0x0004, {0, 0, 0, 42}),
                                        Parameter(0x0005, {0, 0x09, 0x27, 0xC0}), Parameter(0x0006, {0, 0, 1, 0})}));
    const StartStopCounters counters = DecodeStartStop(LogPageView(page));
    EXPECT_EQ(counters.manufactured, "2024 week 07");
    EXPECT_FALSE(counters.accountingDate) << "blanks: the date was never set";
    EXPECT_EQ(counters.specifiedCycles, 50000u);
    EXPECT_EQ(counters.cycles, 42u);
    EXPECT_EQ(counters.specifiedLoads, 600000u);
    EXPECT_EQ(counters.loads, 256u);
}

Bytes SelfTestValue(std::uint8_t codeAndResult, std::uint8_t segment, std::uint16_t hours, std::uint64_t lba,
                    std::uint8_t key, std::uint8_t asc, std::uint8_t ascq)
{
    Bytes value(16, 0);
    value[0] = codeAndResult;
    value[1] = segment;
    value[2] = static_cast<std::uint8_t>(hours >> 8);
    value[3] = static_cast<std::uint8_t>(hours);
    for (int i = 0; i < 8; ++i) {
        value[4 + i] = static_cast<std::uint8_t>(lba >> (56 - 8 * i));
    }
    value[12] = key;
    value[13] = asc;
    value[14] = ascq;
    return value;
}

TEST(SelfTests, EntriesWithResultSegmentHoursLbaAndSense)
{
    const Bytes page =
        Page(0x10, Join({Parameter(0x0001, SelfTestValue(0x47, 3, 1234, 5000, 0x3, 0x11, 0x00), 0x03),
                         Parameter(0x0002, SelfTestValue(0x20, 0, 1200, ~0ULL, 0, 0, 0), 0x03),
                         Parameter(0x0003, Bytes(16, 0), 0x03)}));
    const std::vector<SelfTestRecord> entries = DecodeSelfTests(LogPageView(page));
    ASSERT_EQ(entries.size(), 2u) << "the unused entry is left out";
    EXPECT_EQ(entries[0].number, 1);
    EXPECT_EQ(entries[0].code, 2);
    EXPECT_EQ(entries[0].result, 7);
    EXPECT_EQ(entries[0].segment, 3);
    EXPECT_EQ(entries[0].hours, 1234);
    EXPECT_EQ(entries[0].failedLba, 5000u);
    EXPECT_EQ(entries[0].key, 3);
    EXPECT_EQ(entries[0].asc, 0x11);
    EXPECT_TRUE(IsSelfTestFailure(entries[0].result));
    EXPECT_EQ(entries[1].result, 0);
    EXPECT_FALSE(entries[1].failedLba) << "all ones: no failure address";
    EXPECT_FALSE(IsSelfTestFailure(entries[1].result));
}

TEST(SelfTests, AllTwentyEntriesAndNoMore)
{
    Bytes parameters;
    for (std::uint16_t code = 1; code <= 21; ++code) {
        const Bytes p = Parameter(code, SelfTestValue(0x21, 0, code, ~0ULL, 0, 0, 0), 0x03);
        parameters.insert(parameters.end(), p.begin(), p.end());
    }
    const std::vector<SelfTestRecord> entries = DecodeSelfTests(LogPageView(Page(0x10, parameters)));
    ASSERT_EQ(entries.size(), 20u) << "parameter 0015h is no self-test entry";
    EXPECT_EQ(entries.back().number, 20);
}

TEST(SelfTests, ResultsThatAreFailures)
{
    // SPC-4 table 298: 3 to 7 found a fault; 0-2 did not; 15 is still running.
    for (int result = 0; result < 16; ++result) {
        EXPECT_EQ(IsSelfTestFailure(result), result >= 3 && result <= 7) << result;
    }
}

TEST(BackgroundScan, StatusAndMediumScanEntries)
{
    Bytes status{0, 0, 0x03, 0xE8, 0, 0x01, 0, 5, 0x80, 0x00, 0, 4};
    Bytes entry(20, 0);
    entry[3] = 60;
    entry[4] = 0x13;  // reassign status 1, MEDIUM ERROR
    entry[5] = 0x11;
    entry[6] = 0x00;
    entry[19] = 0x64;
    const Bytes page = Page(0x15, Join({Parameter(0x0000, status, 0x03), Parameter(0x0001, entry, 0x03)}));
    const BackgroundScan scan = DecodeBackgroundScan(LogPageView(page));
    ASSERT_TRUE(scan.status);
    EXPECT_EQ(scan.status->powerOnMinutes, 1000u);
    EXPECT_EQ(scan.status->status, 1);
    EXPECT_EQ(scan.status->scansPerformed, 5);
    EXPECT_EQ(scan.status->progress, 0x8000);
    EXPECT_EQ(scan.status->mediumScansPerformed, 4);
    ASSERT_EQ(scan.entries.size(), 1u);
    EXPECT_EQ(scan.entries[0].reassignStatus, 1);
    EXPECT_EQ(scan.entries[0].key, 3);
    EXPECT_EQ(scan.entries[0].asc, 0x11);
    EXPECT_EQ(scan.entries[0].lba, 100u);
    EXPECT_EQ(scan.entries[0].powerOnMinutes, 60u);
    // A status parameter too short for its fields is not read.
    const Bytes shortStatus = Page(0x15, Parameter(0x0000, {0, 0, 0, 1}, 0x03));
    EXPECT_FALSE(DecodeBackgroundScan(LogPageView(shortStatus)).status);
}

Bytes SasPhyDescriptor(std::uint8_t id, std::uint8_t descriptorLength)
{
    Bytes phy(4 + descriptorLength, 0);
    phy[1] = id;
    phy[3] = descriptorLength;
    phy[4] = 0x10;  // end device attached
    phy[5] = 0x0B;  // 12 Gbit/s
    for (int i = 0; i < 8; ++i) {
        phy[8 + i] = static_cast<std::uint8_t>(0x50 + i);
        phy[16 + i] = static_cast<std::uint8_t>(0x60 + i);
    }
    phy[35] = 7;  // invalid dwords
    phy[39] = 1;  // running disparity errors
    phy[43] = 2;  // loss of dword synchronization
    phy[47] = 3;  // phy reset problems
    return phy;
}

TEST(ProtocolPort, SasPhysWithTheirCounters)
{
    Bytes port{0x06, 0, 1, 2};
    const Bytes first = SasPhyDescriptor(0, 44);
    const Bytes second = SasPhyDescriptor(1, 44 + 12);  // with one phy event descriptor
    port.insert(port.end(), first.begin(), first.end());
    port.insert(port.end(), second.begin(), second.end());
    const std::vector<ProtocolPort> ports = DecodeProtocolPorts(LogPageView(Page(0x18, Parameter(1, port, 0x03))));
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].relativePort, 1);
    EXPECT_EQ(ports[0].protocol, 6);
    ASSERT_EQ(ports[0].phys.size(), 2u);
    const SasPhy& phy = ports[0].phys[1];
    EXPECT_EQ(phy.identifier, 1);
    EXPECT_EQ(phy.attachedDeviceType, 1);
    EXPECT_STREQ(LinkRateName(phy.linkRate), "12 Gbit/s");
    EXPECT_EQ(phy.sasAddress, 0x5051525354555657ULL);
    EXPECT_EQ(phy.attachedSasAddress, 0x6061626364656667ULL);
    EXPECT_EQ(phy.invalidDwords, 7u);
    EXPECT_EQ(phy.disparityErrors, 1u);
    EXPECT_EQ(phy.lossOfSync, 2u);
    EXPECT_EQ(phy.resetProblems, 3u);
}

TEST(ProtocolPort, PhyCountBeyondTheValueStopsTheList)
{
    // Says 3 phys but holds one, then a descriptor whose length runs past the value.
    Bytes port{0x06, 0, 1, 3};
    const Bytes first = SasPhyDescriptor(0, 44);
    port.insert(port.end(), first.begin(), first.end());
    port.insert(port.end(), {0, 1, 0, 44, 0x10, 0x0A});
    const std::vector<ProtocolPort> ports = DecodeProtocolPorts(LogPageView(Page(0x18, Parameter(1, port, 0x03))));
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].phys.size(), 1u);
    // A port of another protocol keeps no phys.
    const Bytes fibre{0x00, 0, 1, 1};
    const auto other = DecodeProtocolPorts(LogPageView(Page(0x18, Parameter(2, fibre, 0x03))));
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0].protocol, 0);
    EXPECT_TRUE(other[0].phys.empty());
}

TEST(InformationalExceptions, AscAscqAndTemperature)
{
    const Bytes failing = Page(0x2F, Parameter(0x0000, {0x5D, 0x10, 38, 60}, 0x03));
    const InformationalExceptions exceptions = DecodeInformationalExceptions(LogPageView(failing));
    EXPECT_EQ(exceptions.asc, 0x5D);
    EXPECT_EQ(exceptions.ascq, 0x10);
    EXPECT_EQ(exceptions.temperature, 38);
    const Bytes bare = Page(0x2F, Parameter(0x0000, {0x00, 0x00}, 0x03));
    const InformationalExceptions none = DecodeInformationalExceptions(LogPageView(bare));
    EXPECT_EQ(none.asc, 0);
    EXPECT_FALSE(none.temperature);
    // The parameter runs past the page: nothing is read, not a zero ASC.
    const Bytes cut{0x2F, 0, 0, 6, 0, 0, 0x03, 4, 0x5D, 0x10};
    EXPECT_FALSE(DecodeInformationalExceptions(LogPageView(cut)).asc);
}

TEST(GrownDefects, ListLengthOverTheDescriptorSize)
{
    struct Case {
        const char* name;
        Bytes reply;
        bool twelve;
        std::optional<std::uint64_t> count;
    };
    const Case cases[] = {
        {"(10) bytes from index", {0, 0x0C, 0, 24}, false, 3},
        {"(10) short block", {0, 0x08, 0, 24}, false, 6},
        {"(12) long block", {0, 0x0B, 0, 0, 0, 1, 0, 0}, true, 8192},
        {"(12) physical sector", {0, 0x0D, 0, 0, 0, 0, 0, 0}, true, 0},
        {"vendor format", {0, 0x0E, 0, 8}, false, std::nullopt},
        {"header cut", {0, 0x0C, 0}, false, std::nullopt},
        {"(12) header cut", {0, 0x0C, 0, 0, 0, 8}, true, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GrownDefectCount(c.reply, c.twelve), c.count) << c.name;
    }
}

}  // namespace
