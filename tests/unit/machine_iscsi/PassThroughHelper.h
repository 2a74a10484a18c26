// Sends one CDB through IOCTL_SCSI_PASS_THROUGH_DIRECT, as the port transport does.
#pragma once

#include "platform/DeviceNamespace.h"
#include "platform/ntddscsi.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string>

namespace harrow::machine {

struct PassThroughAnswer {
    BOOL ok = FALSE;
    DWORD error = 0;
    DWORD returned = 0;
    SCSI_PASS_THROUGH_DIRECT header{};
    std::array<UCHAR, 64> sense{};

    // "05/20/00": sense key, ASC, ASCQ of fixed-format sense.
    std::string Sense() const
    {
        char text[16];
        std::snprintf(text, sizeof text, "%02X/%02X/%02X", sense[2] & 0x0F, sense[12], sense[13]);
        return text;
    }
};

struct PassThroughTarget {
    UCHAR lun = 0;
    UCHAR targetId = 0;
    UCHAR pathId = 0;
    UCHAR senseLength = 32;
};

inline PassThroughAnswer SendCdb(platform::Device& device, std::initializer_list<UCHAR> cdb, UCHAR dataIn,
                                 std::span<std::uint8_t> data, PassThroughTarget where = {})
{
    struct {
        SCSI_PASS_THROUGH_DIRECT header;
        std::array<UCHAR, 64> sense;
    } block{};
    block.sense.fill(0xEE);
    block.header.Length = sizeof block.header;
    block.header.PathId = where.pathId;
    block.header.TargetId = where.targetId;
    block.header.Lun = where.lun;
    block.header.CdbLength = static_cast<UCHAR>(cdb.size());
    block.header.SenseInfoLength = where.senseLength;
    block.header.DataIn = dataIn;
    block.header.DataTransferLength = static_cast<ULONG>(data.size());
    block.header.TimeOutValue = 10;
    block.header.DataBuffer = data.empty() ? nullptr : data.data();
    block.header.SenseInfoOffset = sizeof block.header;
    std::memcpy(block.header.Cdb, cdb.begin(), cdb.size());

    PassThroughAnswer answer;
    answer.ok = device.IoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT, &block, sizeof block, &block, sizeof block,
                                 &answer.returned, &answer.error);
    answer.header = block.header;
    answer.sense = block.sense;
    return answer;
}

}  // namespace harrow::machine
