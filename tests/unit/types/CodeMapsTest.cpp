#include "core/types/CodeMaps.h"

#include <gtest/gtest.h>

TEST(SenseKeyToError, EveryKeyMapsToItsFixedCode)
{
    const std::int32_t expected[16] = {
        0x01000001, 0x01000002, 0x01000003, 0x01000004, 0x01000005, 0x01000006,
        0x01000007, 0x01000008, 0x01000009, -1,         0x0100000B, 0x0100000C,
        0x0100000D, 0x0100000E, 0x0100000F, -1,
    };
    for (unsigned key = 0; key < 16; ++key) {
        EXPECT_EQ(SenseKeyToError(key), expected[key]) << "sense key " << key;
    }
    EXPECT_EQ(SenseKeyToError(0x10), ERR_NO_TRANSLATION);
    EXPECT_EQ(SenseKeyToError(0xFFFFFFFF), ERR_NO_TRANSLATION);
    EXPECT_EQ(static_cast<std::uint32_t>(ERR_NO_TRANSLATION), 0xFFFFFFFFu);
}

TEST(InquiryTypeToDevice, MapsPeripheralTypeAndIgnoresQualifier)
{
    for (unsigned type = 0; type < 32; ++type) {
        Device_t expected = DEV_UNKNOWN;
        switch (type) {
        case 0: expected = DEV_DISK; break;
        case 1: expected = DEV_TAPE; break;
        case 5: expected = DEV_CDROM; break;
        case 7: expected = DEV_OPTICAL; break;
        case 8: expected = DEV_CHANGER; break;
        case 2: case 3: case 4: case 6: case 9: expected = DEV_OTHER; break;
        default: break;
        }
        for (unsigned qualifier = 0; qualifier < 8; ++qualifier) {
            const auto byte0 = static_cast<unsigned char>(qualifier << 5 | type);
            EXPECT_EQ(InquiryTypeToDevice(byte0), expected) << "byte 0 = " << unsigned(byte0);
        }
    }
    EXPECT_EQ(InquiryTypeToDevice(5), 4);
    EXPECT_EQ(InquiryTypeToDevice(9), 30);
    EXPECT_EQ(InquiryTypeToDevice(0x1F), 11);
}
