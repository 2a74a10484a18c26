#pragma once

#include "core/transport/ErrorTable.h"

// What GetIOStatii reports for an ASPI request block's SRB_Status and
// SRB_HaStat. They differ from the completion translation on purpose: these
// describe the block, that one decides the command's outcome.
inline constexpr ERR_XTBL kAspiSrbStatusTable[] = {
    {0x00, ERR_CMD_PENDING},     {0x01, ERR_NONE},           {0x02, ERR_SK_ABORTED_COMMAND},
    {0x03, ERR_ABORT_FAILED},    {0x04, ERR_CHECK_CONDITION}, {0x81, ERR_NO_HOST_ADAPTER},
    {0x80, ERR_DRIVER_FAILURE},  {0x82, ERR_NO_DEVICE},      {0xE0, ERR_DRIVER_FAILURE},
    {0xE1, ERR_DRIVER_FAILURE},  {0xE1, ERR_DRIVER_FAILURE}, {0xE2, ERR_DRIVER_FAILURE},
    {0xE3, ERR_DRIVER_FAILURE},  {0xE4, ERR_DRIVER_FAILURE}, {0xE5, ERR_DRIVER_FAILURE},
    {0xE6, ERR_NO_MEMORY},       {0xE7, ERR_DRIVER_FAILURE}, {0xE8, ERR_NO_HOST_ADAPTER},
    {0xE9, ERR_NO_RESOURCE},
};
inline constexpr int kAspiSrbStatusRows = sizeof(kAspiSrbStatusTable) / sizeof(kAspiSrbStatusTable[0]);
static_assert(kAspiSrbStatusRows == 19);

inline constexpr ERR_XTBL kAspiHaStatusTable[] = {
    {0x00, ERR_NONE},          {0x11, ERR_SELECTION_TIMEOUT}, {0x12, ERR_DATA_OVERRUN},
    {0x13, ERR_UNEXPECTED_BUS_FREE}, {0x14, ERR_PHASE_SEQUENCE}, {0x09, ERR_TIMEOUT},
    {0x0B, ERR_COMMAND_TIMEOUT}, {0x0D, ERR_MESSAGE_REJECTED}, {0x0E, ERR_BUS_RESET},
    {0x0F, ERR_PARITY},        {0x10, ERR_REQSENSE_FAILED},
};
inline constexpr int kAspiHaStatusRows = sizeof(kAspiHaStatusTable) / sizeof(kAspiHaStatusTable[0]);
static_assert(kAspiHaStatusRows == 11);
