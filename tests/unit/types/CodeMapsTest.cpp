#include "core/types/CodeMaps.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

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

TEST(ErrorCodes, TransportHostAndConfigurationCodesKeepTheirValues)
{
    const std::vector<std::pair<Error_t, std::uint32_t>> codes = {
        {ERR_HA_REQSENSE_FAILED, 0x02000001},
        {ERR_BUS_RESET, 0x02000002},
        {ERR_TIMEOUT, 0x02000003},
        {ERR_NO_DEVICE, 0x02000004},
        {ERR_INVALID_REQUEST, 0x02000005},
        {ERR_CMD_NOT_STARTED, 0x02000006},
        {ERR_CMD_PENDING, 0x02000007},
        {ERR_CMD_ABORTED, 0x02000008},
        {ERR_ABORT_FAILED, 0x02000009},
        {ERR_SELECTION_TIMEOUT, 0x0200000A},
        {ERR_COMMAND_TIMEOUT, 0x0200000B},
        {ERR_MESSAGE_REJECTED, 0x0200000C},
        {ERR_PARITY, 0x0200000D},
        {ERR_UNEXPECTED_BUS_FREE, 0x0200000E},
        {ERR_PHASE_SEQUENCE, 0x0200000F},
        {ERR_DATA_OVERRUN, 0x02000010},
        {ERR_REQUEST_FLUSHED, 0x02000011},
        {ERR_CHECK_CONDITION, 0x04000001},
        {ERR_DRIVER_IO, 0x04000002},
        {ERR_CMD_COMPLETE, 0x04000003},
        {ERR_TEST_4, 0x04000004},
        {ERR_NOX_5, 0x04000005},
        {ERR_NOX_6, 0x04000006},
        {ERR_REQSENSE_FAILED, 0x04000007},
        {ERR_NO_MEMORY, 0x04000008},
        {ERR_INVALID_PARAM, 0x0400000A},
        {ERR_NO_RESOURCE, 0x0400000B},
        {ERR_BUFFER_TOO_SMALL, 0x0400000C},
        {ERR_NOT_INITIALIZED, 0x0400000E},
        {ERR_ALREADY_INITIALIZED, 0x0400000F},
        {ERR_INVALID_PATH_ID, 0x04000010},
        {ERR_NO_HOST_ADAPTER, 0x04000011},
        {ERR_INVALID_LUN, 0x04000012},
        {ERR_INVALID_TARGET, 0x04000013},
        {ERR_BAD_SRB_LENGTH, 0x04000014},
        {ERR_BAD_FUNCTION, 0x04000015},
        {ERR_ERROR_RECOVERY, 0x04000016},
        {ERR_TEST_18, 0x04000018},
        {ERR_DRIVER_FAILURE, 0x0400001A},
        {ERR_INIT_FAILED, 0x0400001B},
        {ERR_TEST_1C, 0x0400001C},
        {ERR_NOT_SUPPORTED, 0x0400001D},
        {ERR_TOO_FEW_CTL_BLOCKS, 0x0400001E},
        {ERR_NO_FREE_CTL_BLOCK, 0x0400001F},
        {ERR_PRODUCT_NOT_REGISTERED, 0x05000000},
        {ERR_REGISTRY_ACCESS, 0x05000001},
        {ERR_NO_BUFFERMGR_VALUE, 0x05000002},
        {ERR_NO_DRIVER_CONFIGURED, 0x05000003},
        {ERR_DRIVER_NOT_INSTALLED, 0x05000004},
    };
    for (const auto& [code, value] : codes) {
        EXPECT_EQ(static_cast<std::uint32_t>(code), value) << std::hex << value;
    }
}
