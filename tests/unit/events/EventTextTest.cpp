#include "core/types/CCdbLogEvent.h"
#include "core/types/CEventError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

std::string CtimeOf(std::time_t time)
{
    char text[32];
    return ctime_r(&time, text);
}

SCSI_SenseData_s Sense(std::uint8_t flags, std::uint8_t additionalLength)
{
    SCSI_SenseData_s sense{};
    sense.ResponseCode = 0x70;
    sense.Flags = flags;
    sense.AdditionalSenseLength = additionalLength;
    for (std::size_t i = 0; i < sizeof(sense.AdditionalBytes); ++i) {
        sense.AdditionalBytes[i] = static_cast<std::uint8_t>(0x80 + i);
    }
    return sense;
}

CEventError SenseEvent(const SCSI_SenseData_s& sense)
{
    return CEventError(CDevAddress(), 0, nullptr, &sense, ERR_NONE, ERR_NONE, ERR_NONE, ERR_CHECK_CONDITION);
}

const unsigned char kRead10[10] = {0x28, 0, 0, 0, 0x12, 0x34, 0, 0, 8, 0};

}  // namespace

TEST(EventError, TextWithFlagsAdditionalBytesAndValidInformation)
{
    SCSI_SenseData_s sense = Sense(0x20 | 0x40 | 0x80 | 0x03, 14);
    sense.ResponseCode |= 0x80;
    const unsigned char info[4] = {0xFF, 0xFF, 0xFF, 0xFE};
    std::memcpy(sense.Information, info, 4);
    sense.AdditionalSenseCode = 0x11;
    sense.AdditionalSenseCodeQualifier = 0x04;
    sense.SenseKeySpecific[0] = 0x40;
    CEventError event(CDevAddress(1, 3, 0, -1, -1, -1), 10, kRead10, &sense, static_cast<Error_t>(2), ERR_NONE,
                      static_cast<Error_t>(4), ERR_SK_MEDIUM);

    EXPECT_EQ(event.toString(),
              "Device: 1:3:0  CDB:   28  00  00  00  12  34  00  00  08  00  " + CtimeOf(event.GetTime()) + "\n" +
                  "Error_t =  1000004\n"
                  "Sense Key = 03  Additional Sense Code = 11  Additional Sense Qualifier = 04\n"
                  "Illegal Length\nEnd of Media\nFile Mark\nCDB Error\n"
                  "Additional Length = 14\nAdditional Bytes: 80  81  82  83  \n"
                  "Info Bytes are valid: -2 : FF FF FF FE\n"
                  "Target status = 2  Host Adapter Status = 0  SRB Status = 00000004");
    EXPECT_TRUE(event.IsHardError());
    EXPECT_EQ(event.GetBlockNum(), -1);
    CEventError copy = event;
    EXPECT_EQ(copy.toString(), event.toString());
}

TEST(EventError, TextWithoutAdditionalBytesOrValidBitIsSoftForRecoveredErrors)
{
    SCSI_SenseData_s sense = Sense(0x01, 10);
    sense.AdditionalSenseCode = 0x18;
    const unsigned char tur[6] = {};
    CEventError event(CDevAddress(0, 12, 2, -1, -1, -1), 6, tur, &sense, static_cast<Error_t>(-1),
                      static_cast<Error_t>(17), ERR_SELECTION_TIMEOUT, ERR_SK_RECOVERED);

    EXPECT_EQ(event.toString(),
              "Device: 0:12:2  CDB:   00  00  00  00  00  00  " + CtimeOf(event.GetTime()) + "\n" +
                  "Error_t =  1000002\n"
                  "Sense Key = 01  Additional Sense Code = 18  Additional Sense Qualifier = 00\n"
                  "Target status = -1  Host Adapter Status = 17  SRB Status = 0200000A");
    EXPECT_FALSE(event.IsHardError());
    EXPECT_TRUE(SenseEvent(Sense(0x00, 10)).IsHardError());
}

TEST(EventError, AdditionalBytesBreakEverySixteenAndStopAtTheStoredSense)
{
    const auto bytesPart = [](std::uint8_t additionalLength) {
        const std::string text = SenseEvent(Sense(0x05, additionalLength)).toString();
        const auto begin = text.find("Additional Bytes: ") + 18;
        return text.substr(begin, text.find("Target status") - begin);
    };
    std::string expected;
    for (int i = 0; i < 32; ++i) {
        char byte[8];
        std::snprintf(byte, sizeof(byte), "%2.2X  ", 0x80 + i);
        expected += byte + std::string(i % 16 == 15 ? "\n" : "");
    }
    EXPECT_EQ(bytesPart(42), expected + "\n");

    // A device claiming 255 bytes: only the 110 stored after byte 18 are shown.
    const std::string all = bytesPart(255);
    EXPECT_EQ(std::count(all.begin(), all.end(), ' '), 2 * 110);
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 110 / 16 + 1);
    EXPECT_EQ(all.substr(all.size() - 5), "ED  \n");
}

// Descriptor sense (SPC-4 4.5.2): every byte after the 8-byte header is a
// descriptor, so all of them are shown, up to what the event stored.
TEST(EventError, DescriptorSenseShowsEveryDescriptorByte)
{
    SCSI_SenseData_s sense{};
    auto* bytes = reinterpret_cast<std::uint8_t*>(&sense);
    const std::uint8_t header[8] = {0x72, 0x02, 0x04, 0x04, 0, 0, 0, 8};
    const std::uint8_t keySpecific[8] = {0x02, 0x06, 0x00, 0x00, 0x80, 0x12, 0x34, 0x00};  // progress 1234h
    std::memcpy(bytes, header, sizeof header);
    std::memcpy(bytes + 8, keySpecific, sizeof keySpecific);
    const std::string text = SenseEvent(sense).toString();
    EXPECT_NE(text.find("Sense Key = 02  Additional Sense Code = 04  Additional Sense Qualifier = 04\n"
                        "Additional Length = 8\nAdditional Bytes: 02  06  00  00  80  12  34  00  \n"
                        "Target status"),
              std::string::npos)
        << text;

    // No descriptors: no line, as fixed format's additional length 10.
    bytes[7] = 0;
    EXPECT_EQ(SenseEvent(sense).toString().find("Additional Length"), std::string::npos);

    // A deferred error with a length past the stored sense: the 120 bytes after the header.
    bytes[0] = 0x73;
    bytes[7] = 255;
    for (std::size_t i = 8; i < sizeof sense; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i);
    }
    const std::string all = SenseEvent(sense).toString();
    const auto begin = all.find("Additional Length = 255\nAdditional Bytes: 08  09  ");
    ASSERT_NE(begin, std::string::npos) << all;
    const std::string listed = all.substr(begin, all.find("Target status") - begin);
    EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), 1 + 120 / 16 + 1);
    EXPECT_NE(listed.find("16  17  \n18  "), std::string::npos);  // a break after every 16th byte
    EXPECT_EQ(listed.substr(listed.size() - 5), "7F  \n");
}

TEST(EventError, CdbLengthIsClamped)
{
    unsigned char cdb[20];
    for (int i = 0; i < 20; ++i) {
        cdb[i] = static_cast<unsigned char>(i);
    }
    CEventError tooLong(CDevAddress(2, 1, 0, -1, -1, -1), 20, cdb, nullptr, ERR_NONE, ERR_NONE, ERR_NONE,
                        ERR_CHECK_CONDITION);
    const std::string text = tooLong.toString();
    EXPECT_NE(text.find("  0F  " + CtimeOf(tooLong.GetTime())), std::string::npos) << text;
    CEventError negative(CDevAddress(2, 1, 0, -1, -1, -1), -3, cdb, nullptr, ERR_NONE, ERR_NONE, ERR_NONE,
                         ERR_CHECK_CONDITION);
    EXPECT_EQ(negative.toString().rfind("Device: 2:1:0  CDB:   " + CtimeOf(negative.GetTime()), 0), 0u);
}

TEST(EventError, MessageFormAndCdbLogText)
{
    CEventError plain("Scan failed");
    EXPECT_EQ(plain.toString(), CtimeOf(plain.GetTime()) + "Scan failed");
    EXPECT_EQ(plain.GetErrorCode(), ERR_DRIVER_FAILURE);
    EXPECT_EQ(plain.GetDevAddress().m_HostAdapter, -1);
    EXPECT_EQ(CEventError("No driver", ERR_NO_DRIVER_CONFIGURED).GetErrorCode(), ERR_NO_DRIVER_CONFIGURED);

    CCdbLogEvent logged(CDevAddress(0, 5, 1, -1, -1, -1), 6, kRead10);
    EXPECT_EQ(logged.toString(), "Device: 0:5:1  CDB:  28  00  00  00  12  34  " + CtimeOf(logged.GetTime()));
    // Hex letters are upper case in both logged forms.
    unsigned char lettered[6] = {0x2A, 0xBC, 0xDE, 0xF0, 0x0A, 0x1F};
    CCdbLogEvent upper(CDevAddress(0, 5, 1, -1, -1, -1), 6, lettered);
    EXPECT_EQ(upper.toString(), "Device: 0:5:1  CDB:  2A  BC  DE  F0  0A  1F  " + CtimeOf(upper.GetTime()));
    SCSI_SenseData_s sense{};
    CEventError failed(CDevAddress(0, 5, 1, -1, -1, -1), 6, lettered, &sense, ERR_NONE, ERR_NONE, ERR_NONE,
                       ERR_SK_ABORTED_COMMAND);
    EXPECT_EQ(failed.toString().rfind("Device: 0:5:1  CDB:   2A  BC  DE  F0  0A  1F  ", 0), 0u);
    EXPECT_NE(failed.toString().find("Error_t =  100000C\n"), std::string::npos);
}
