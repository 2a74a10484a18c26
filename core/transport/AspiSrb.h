#pragma once

#include "core/transport/SRB_ExecSCSICmd.h"
#include "platform/WinTypes.h"

#include <cstddef>

// The published ASPI for Win32 interface: request block commands, status
// codes and the request blocks other than execute-command. Pointer fields
// are eight bytes on this build; the fields behind them move by four.
namespace aspi {

constexpr BYTE SC_HA_INQUIRY = 0x00;
constexpr BYTE SC_GET_DEV_TYPE = 0x01;
constexpr BYTE SC_EXEC_SCSI_CMD = 0x02;
constexpr BYTE SC_ABORT_SRB = 0x03;
constexpr BYTE SC_RESET_DEV = 0x04;
constexpr BYTE SC_RESCAN_SCSI_BUS = 0x07;
constexpr BYTE SC_GETSET_TIMEOUTS = 0x08;

constexpr BYTE SS_PENDING = 0x00;
constexpr BYTE SS_COMP = 0x01;
constexpr BYTE SS_ABORTED = 0x02;
constexpr BYTE SS_ABORT_FAIL = 0x03;
constexpr BYTE SS_ERR = 0x04;
constexpr BYTE SS_INVALID_CMD = 0x80;
constexpr BYTE SS_INVALID_HA = 0x81;
constexpr BYTE SS_NO_DEVICE = 0x82;
constexpr BYTE SS_INVALID_SRB = 0xE0;
constexpr BYTE SS_BUFFER_TO_BIG = 0xE6;
constexpr BYTE SS_NO_ADAPTERS = 0xE8;
constexpr BYTE SS_INSUFFICIENT_RESOURCES = 0xE9;

constexpr BYTE HASTAT_OK = 0x00;
constexpr BYTE HASTAT_TIMEOUT = 0x09;
constexpr BYTE HASTAT_SEL_TO = 0x11;
constexpr BYTE HASTAT_DO_DU = 0x12;

constexpr BYTE SRB_DIR_IN = 0x08;
constexpr BYTE SRB_DIR_OUT = 0x10;

// SC_GETSET_TIMEOUTS: SRB_DIR_IN reads a time-out, SRB_DIR_OUT sets it.
constexpr BYTE kTimeoutGet = SRB_DIR_IN;
constexpr BYTE kTimeoutSet = SRB_DIR_OUT;
// Any adapter, target or LUN in a set-timeouts block.
constexpr BYTE kWildcard = 0xFF;

}  // namespace aspi

#pragma pack(push, 1)
struct SRB_Header {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
};

struct SRB_HAInquiry {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE HA_Count;
    BYTE HA_SCSI_ID;
    BYTE HA_ManagerId[16];
    BYTE HA_Identifier[16];
    // Byte 3: the adapter's number of targets; bytes 4-7: its largest transfer.
    BYTE HA_Unique[16];
    WORD HA_Rsvd1;
};

struct SRB_GDEVBlock {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    BYTE SRB_DeviceType;
    BYTE SRB_Rsvd1;
};

struct SRB_Abort {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    void* SRB_ToAbort;
};

struct SRB_BusDeviceReset {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    BYTE SRB_Rsvd1[12];
    BYTE SRB_HaStat;
    BYTE SRB_TargStat;
    void* SRB_PostProc;
    BYTE SRB_Rsvd2[36];
};

struct SRB_RescanPort {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
};

struct SRB_GetSetTimeouts {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    DWORD SRB_Timeout;  // half seconds
};

struct ASPI32BUFF {
    BYTE* AB_BufPointer;
    DWORD AB_BufLen;
    DWORD AB_ZeroFill;
    DWORD AB_Reserved;
};
#pragma pack(pop)

static_assert(sizeof(SRB_Header) == 8);
static_assert(offsetof(SRB_HAInquiry, HA_Count) == 8);
static_assert(offsetof(SRB_HAInquiry, HA_SCSI_ID) == 9);
static_assert(offsetof(SRB_HAInquiry, HA_ManagerId) == 10);
static_assert(offsetof(SRB_HAInquiry, HA_Identifier) == 26);
static_assert(offsetof(SRB_HAInquiry, HA_Unique) == 42);
static_assert(sizeof(SRB_HAInquiry) == 60);
static_assert(offsetof(SRB_GDEVBlock, SRB_Target) == 8);
static_assert(offsetof(SRB_GDEVBlock, SRB_DeviceType) == 10);
static_assert(sizeof(SRB_GDEVBlock) == 12);
static_assert(offsetof(SRB_Abort, SRB_ToAbort) == 8);
static_assert(offsetof(SRB_BusDeviceReset, SRB_Target) == 8);
static_assert(offsetof(SRB_BusDeviceReset, SRB_HaStat) == 22);
static_assert(offsetof(SRB_BusDeviceReset, SRB_TargStat) == 23);
static_assert(offsetof(SRB_BusDeviceReset, SRB_PostProc) == 24);
static_assert(offsetof(SRB_BusDeviceReset, SRB_Rsvd2) == 32);
static_assert(sizeof(SRB_RescanPort) == 8);
static_assert(offsetof(SRB_GetSetTimeouts, SRB_Target) == 8);
static_assert(offsetof(SRB_GetSetTimeouts, SRB_Lun) == 9);
static_assert(offsetof(SRB_GetSetTimeouts, SRB_Timeout) == 10);
static_assert(sizeof(SRB_GetSetTimeouts) == 14);
static_assert(offsetof(ASPI32BUFF, AB_BufLen) == 8);
static_assert(offsetof(ASPI32BUFF, AB_ZeroFill) == 12);
static_assert(sizeof(ASPI32BUFF) == 20);

// The exports of "WNASPI32.DLL".
using SendASPI32Command_t = DWORD (*)(void* srb);
using GetASPI32SupportInfo_t = DWORD (*)();
using GetASPI32Buffer_t = BOOL (*)(ASPI32BUFF* buffer);
using FreeASPI32Buffer_t = BOOL (*)(ASPI32BUFF* buffer);
