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

SCSI_SenseData_s Sense(std::uint8_t flags, std::uint8_t additionalLength, std::uint8_t asc, std::uint8_t ascq)
{
    SCSI_SenseData_s sense{};
    sense.ResponseCode = 0x70;
    sense.Flags = flags;
    sense.AdditionalSenseLength = additionalLength;
    sense.AdditionalSenseCode = asc;
    sense.AdditionalSenseCodeQualifier = ascq;
    for (std::size_t i = 0; i < sizeof(sense.AdditionalBytes); ++i) {
        sense.AdditionalBytes[i] = static_cast<std::uint8_t>(0x80 + i);
    }
    return sense;
}

const unsigned char kRead10[10] = {0x28, 0, 0, 0, 0x12, 0x34, 0, 0, 8, 0};

}  // namespace

TEST(EventError, TextWithFlagsAdditionalBytesAndValidInformation)
{
    SCSI_SenseData_s sense = Sense(0x20 | 0x40 | 0x80 | 0x03, 14, 0x11, 0x04);
    sense.ResponseCode |= 0x80;
    const unsigned char info[4] = {0xFF, 0xFF, 0xFF, 0xFE};
    std::memcpy(sense.Information, info, 4);
    sense.SenseKeySpecific[0] = 0x40;
    CEventError event(CDevAddress(1, 3, 0, -1, -1, -1), 10, kRead10, &sense, static_cast<Error_t>(2),
                      static_cast<Error_t>(0), static_cast<Error_t>(4), ERR_SK_MEDIUM);

    EXPECT_EQ(event.toString(),
              "Device: 1:3:0  CDB:   28  00  00  00  12  34  00  00  08  00  " + CtimeOf(event.GetTime()) + "\n" +
                  "Error_t =  1000004\n"
                  "Sense Key = 03  Additional Sense Code = 11  Additional Sense Qualifier = 04\n"
                  "Illegal Length\nEnd of Media\nFile Mark\nCDB Error\n"
                  "Additional Length = 14\nAdditional Bytes: 80  81  82  83  \n"
                  "Info Bytes are valid: -2 : FF FF FF FE\n"
                  "Target status = 2  Host Adapter Status = 0  SRB Status = 00000004");
    EXPECT_TRUE(event.IsHardError());
    EXPECT_EQ(event.GetSenseKey(), 3);
    EXPECT_EQ(event.GetASC(), 0x11);
    EXPECT_EQ(event.GetASQ(), 0x04);
    EXPECT_EQ(event.GetBlockNum(), -1);
    EXPECT_EQ(event.GetErrorCode(), ERR_SK_MEDIUM);
}

TEST(EventError, TextWithoutAdditionalBytesOrValidBit)
{
    SCSI_SenseData_s sense = Sense(0x01, 10, 0x18, 0x00);
    const unsigned char tur[6] = {};
    CEventError event(CDevAddress(0, 12, 2, -1, -1, -1), 6, tur, &sense, static_cast<Error_t>(-1),
                      static_cast<Error_t>(17), ERR_SELECTION_TIMEOUT, ERR_SK_RECOVERED);

    EXPECT_EQ(event.toString(),
              "Device: 0:12:2  CDB:   00  00  00  00  00  00  " + CtimeOf(event.GetTime()) + "\n" +
                  "Error_t =  1000002\n"
                  "Sense Key = 01  Additional Sense Code = 18  Additional Sense Qualifier = 00\n"
                  "Target status = -1  Host Adapter Status = 17  SRB Status = 0200000A");
    EXPECT_FALSE(event.IsHardError());
}

TEST(EventError, AdditionalBytesBreakEverySixteenAndStopAtStoredSense)
{
    const auto bytesPart = [](std::uint8_t additionalLength) {
        SCSI_SenseData_s sense = Sense(0x05, additionalLength, 0x24, 0);
        const std::string text = CEventError(CDevAddress(), 0, nullptr, &sense, ERR_NONE, ERR_NONE, ERR_NONE,
                                             ERR_SK_ILLEGAL_REQUEST)
                                     .toString();
        const auto begin = text.find("Additional Bytes: ");
        const auto end = text.find("Target status");
        return begin == std::string::npos ? std::string() : text.substr(begin + 18, end - begin - 18);
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
    EXPECT_EQ(all.substr(all.size() - 5), "ED  \n");
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 110 / 16 + 1);
}

TEST(EventError, SenseKeyDecidesHardness)
{
    for (int key = 0; key <= 0xF; ++key) {
        SCSI_SenseData_s sense = Sense(static_cast<std::uint8_t>(key), 10, 0, 0);
        CEventError event(CDevAddress(), 0, nullptr, &sense, ERR_NONE, ERR_NONE, ERR_NONE, ERR_CHECK_CONDITION);
        EXPECT_EQ(event.IsHardError(), key != 1) << key;
    }
}

TEST(EventError, CdbLengthIsClampedAndCopiesKeepEverything)
{
    unsigned char cdb[20];
    for (int i = 0; i < 20; ++i) {
        cdb[i] = static_cast<unsigned char>(i);
    }
    CEventError longCdb(CDevAddress(2, 1, 0, -1, -1, -1), 20, cdb, nullptr, ERR_NONE, ERR_NONE, ERR_NONE,
                        ERR_CHECK_CONDITION);
    const std::string text = longCdb.toString();
    EXPECT_NE(text.find("CDB:   00  01"), std::string::npos);
    EXPECT_NE(text.find("  0F  "), std::string::npos);
    EXPECT_EQ(text.find("  10  "), std::string::npos);

    CEventError negative(CDevAddress(2, 1, 0, -1, -1, -1), -3, cdb, nullptr, ERR_NONE, ERR_NONE, ERR_NONE,
                         ERR_CHECK_CONDITION);
    EXPECT_EQ(negative.toString().rfind("Device: 2:1:0  CDB:   " + CtimeOf(negative.GetTime()), 0), 0u);

    CEventError copy = longCdb;
    EXPECT_EQ(copy.toString(), text);
}

TEST(EventError, MessageForm)
{
    CEventError plain("Scan failed");
    EXPECT_EQ(plain.toString(), CtimeOf(plain.GetTime()) + "Scan failed");
    EXPECT_EQ(plain.GetErrorCode(), ERR_DRIVER_FAILURE);
    EXPECT_FALSE(plain.IsScsiForm());
    EXPECT_EQ(plain.GetDevAddress().m_HostAdapter, -1);
    EXPECT_EQ(plain.GetDevAddress().m_Lun, -1);
    EXPECT_EQ(plain.GetBlockNum(), -1);

    CEventError coded("No driver", ERR_NO_DRIVER_CONFIGURED);
    EXPECT_EQ(coded.GetErrorCode(), ERR_NO_DRIVER_CONFIGURED);
}

TEST(CdbLogEvent, Text)
{
    CCdbLogEvent event(CDevAddress(0, 5, 1, -1, -1, -1), 6, kRead10);
    EXPECT_EQ(event.toString(), "Device: 0:5:1  CDB:  28  00  00  00  12  34  " + CtimeOf(event.GetTime()));
}
