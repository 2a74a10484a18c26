// The Windows SCSI port interface: I/O control codes and the structures that
// cross DeviceIoControl, laid out byte for byte. A memory address is 8 bytes
// at the offset Windows gives it on 32-bit; the fields after it move by 4.
#pragma once

#include "platform/WinTypes.h"

#include <cstddef>

constexpr DWORD IOCTL_SCSI_PASS_THROUGH = 0x0004D004;
constexpr DWORD IOCTL_SCSI_MINIPORT = 0x0004D008;
constexpr DWORD IOCTL_SCSI_GET_INQUIRY_DATA = 0x0004100C;
constexpr DWORD IOCTL_SCSI_GET_CAPABILITIES = 0x00041010;
constexpr DWORD IOCTL_SCSI_PASS_THROUGH_DIRECT = 0x0004D014;
constexpr DWORD IOCTL_SCSI_GET_ADDRESS = 0x00041018;
constexpr DWORD IOCTL_SCSI_RESCAN_BUS = 0x0004101C;

constexpr UCHAR SCSI_IOCTL_DATA_OUT = 0;
constexpr UCHAR SCSI_IOCTL_DATA_IN = 1;
constexpr UCHAR SCSI_IOCTL_DATA_UNSPECIFIED = 2;

#pragma pack(push, 1)

struct SCSI_PASS_THROUGH_DIRECT {
    USHORT Length;
    UCHAR ScsiStatus;
    UCHAR PathId;
    UCHAR TargetId;
    UCHAR Lun;
    UCHAR CdbLength;
    UCHAR SenseInfoLength;
    UCHAR DataIn;
    UCHAR Reserved[3];
    ULONG DataTransferLength;
    ULONG TimeOutValue;
    PVOID DataBuffer;
    ULONG SenseInfoOffset;
    UCHAR Cdb[16];
};
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Length) == 0);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, ScsiStatus) == 2);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, PathId) == 3);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TargetId) == 4);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Lun) == 5);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, CdbLength) == 6);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoLength) == 7);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn) == 8);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == 12);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == 16);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 20);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 20 + sizeof(PVOID));
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 24 + sizeof(PVOID));
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 40 + sizeof(PVOID));

struct SCSI_ADDRESS {
    ULONG Length;
    UCHAR PortNumber;
    UCHAR PathId;
    UCHAR TargetId;
    UCHAR Lun;
};
static_assert(offsetof(SCSI_ADDRESS, PortNumber) == 4);
static_assert(offsetof(SCSI_ADDRESS, Lun) == 7);
static_assert(sizeof(SCSI_ADDRESS) == 8);

struct IO_SCSI_CAPABILITIES {
    ULONG Length;
    ULONG MaximumTransferLength;
    ULONG MaximumPhysicalPages;
    ULONG SupportedAsynchronousEvents;
    ULONG AlignmentMask;
    BOOLEAN TaggedQueuing;
    BOOLEAN AdapterScansDown;
    BOOLEAN AdapterUsesPio;
    UCHAR Reserved;
};
static_assert(offsetof(IO_SCSI_CAPABILITIES, TaggedQueuing) == 20);
static_assert(sizeof(IO_SCSI_CAPABILITIES) == 24);

struct SCSI_BUS_DATA {
    UCHAR NumberOfLogicalUnits;
    UCHAR InitiatorBusId;
    UCHAR Reserved[2];
    ULONG InquiryDataOffset;
};
static_assert(offsetof(SCSI_BUS_DATA, InitiatorBusId) == 1);
static_assert(offsetof(SCSI_BUS_DATA, InquiryDataOffset) == 4);
static_assert(sizeof(SCSI_BUS_DATA) == 8);

// Followed by NumberOfBuses SCSI_BUS_DATA entries; offsets in the chain are
// from the start of this structure.
struct SCSI_ADAPTER_BUS_INFO {
    UCHAR NumberOfBuses;
    UCHAR Reserved[3];
    SCSI_BUS_DATA BusData[1];
};
static_assert(offsetof(SCSI_ADAPTER_BUS_INFO, BusData) == 4);

struct SCSI_INQUIRY_DATA {
    UCHAR PathId;
    UCHAR TargetId;
    UCHAR Lun;
    BOOLEAN DeviceClaimed;
    ULONG InquiryDataLength;
    ULONG NextInquiryDataOffset;
    UCHAR InquiryData[1];
};
static_assert(offsetof(SCSI_INQUIRY_DATA, DeviceClaimed) == 3);
static_assert(offsetof(SCSI_INQUIRY_DATA, InquiryDataLength) == 4);
static_assert(offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset) == 8);
static_assert(offsetof(SCSI_INQUIRY_DATA, InquiryData) == 12);

#pragma pack(pop)
