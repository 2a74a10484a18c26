#pragma once

#include "core/types/SenseData.h"
#include "platform/WinTypes.h"

#include <cstddef>

// The ASPI execute-SCSI-command request block, with a 128-byte sense area.
// The front ends read every transport's outcome in this layout.
#pragma pack(push, 1)
struct SRB_ExecSCSICmd {
    BYTE SRB_Cmd;
    BYTE SRB_Status;
    BYTE SRB_HaId;
    BYTE SRB_Flags;
    DWORD SRB_Hdr_Rsvd;
    BYTE SRB_Target;
    BYTE SRB_Lun;
    WORD SRB_Rsvd1;
    DWORD SRB_BufLen;
    BYTE* SRB_BufPointer;
    BYTE SRB_SenseLen;
    BYTE SRB_CDBLen;
    BYTE SRB_HaStat;
    BYTE SRB_TargStat;
    BYTE SRB_Rsvd2[24];
    BYTE CDBByte[16];
    SCSI_SenseData_s SenseArea;

    static constexpr BYTE SC_EXEC_SCSI_CMD = 0x02;
    static constexpr BYTE SRB_DIR_IN = 0x08;
    static constexpr BYTE SRB_DIR_OUT = 0x10;
};
#pragma pack(pop)

static_assert(offsetof(SRB_ExecSCSICmd, SRB_Cmd) == 0);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Status) == 1);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaId) == 2);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Flags) == 3);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Hdr_Rsvd) == 4);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Target) == 8);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Lun) == 9);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 24);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_CDBLen) == 25);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaStat) == 26);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_TargStat) == 27);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 52);
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 68);
static_assert(sizeof(SRB_ExecSCSICmd) == 196);
