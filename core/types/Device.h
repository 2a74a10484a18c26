#pragma once

#include <cstdint>

// Device type; from INQUIRY where noted, else a node kind of the device tree.
enum Device_t : std::int32_t {
    DEV_DISK = 0,
    DEV_TAPE = 1,
    DEV_CDROM = 4,
    DEV_OPTICAL = 7,
    DEV_CHANGER = 8,
    DEV_HOST_ADAPTER = 10,
    DEV_UNKNOWN = 11,
    DEV_COMPUTER = 12,
    DEV_TARGET = 13,
    DEV_RAID_DISK = 14,
    DEV_OTHER = 30,
};

enum Interface_t : std::int32_t {
    IF_SCSI = 0,
    IF_FIBRE = 1,
    IF_ATAPI = 2,
};

// Transport behind a host adapter.
enum Driver_t : std::int32_t {
    DRV_TEST = 0,
    DRV_DEFAULT = 1,
    DRV_NONE = 2,
    DRV_ASPI = 3,
    DRV_NTPORT = 4,
    DRV_NOX = 5,
    DRV_AMIRAID = 6,
    DRV_LUMEN = 7,
    DRV_AMIRAID_CHANNEL = 8,
    DRV_IDE = 9,
};

// Which manager backs large transfer buffers. Any value other than 0, 1 and 4
// selects the heap manager; 3 passed to the computer system's Init also means
// "let the registry decide".
enum BufferMgr_t : std::int32_t {
    BUFMGR_ASPI = 0,
    BUFMGR_NOX = 1,
    BUFMGR_HEAP = 2,
    BUFMGR_DEFAULT = 3,
    BUFMGR_VXD = 4,
};

// Tag type of a queued command.
enum QTYPE_ENUM : std::int32_t {
    QTYPE_UNTAGGED = 0,
    QTYPE_SIMPLE = 0x20,
};
