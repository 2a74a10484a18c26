#pragma once

#include "core/types/SenseData.h"
#include "platform/WinTypes.h"

#include <cstddef>

// The test transport's request: the ASPI execute block cut down to what the
// simulated adapter reads. The data address is eight bytes on this build.
#pragma pack(push, 1)
struct TestRequest_s {
    BYTE Reserved0;
    BYTE Adapter;
    BYTE Flags;
    BYTE Target;
    BYTE Lun;
    BYTE Reserved1[3];
    DWORD DataLength;
    BYTE* Data;
    BYTE SenseLength;
    BYTE CdbLength;
    BYTE Reserved2[2];
    BYTE Cdb[16];
    SCSI_SenseData_s Sense;
};
#pragma pack(pop)

static_assert(offsetof(TestRequest_s, Adapter) == 1);
static_assert(offsetof(TestRequest_s, Flags) == 2);
static_assert(offsetof(TestRequest_s, Target) == 3);
static_assert(offsetof(TestRequest_s, Lun) == 4);
static_assert(offsetof(TestRequest_s, DataLength) == 8);
static_assert(offsetof(TestRequest_s, Data) == 12);
static_assert(offsetof(TestRequest_s, SenseLength) == 16 + sizeof(void*) - 4);
static_assert(offsetof(TestRequest_s, CdbLength) == 17 + sizeof(void*) - 4);
static_assert(offsetof(TestRequest_s, Cdb) == 20 + sizeof(void*) - 4);
static_assert(offsetof(TestRequest_s, Sense) == 36 + sizeof(void*) - 4);
static_assert(sizeof(TestRequest_s) == 164 + sizeof(void*) - 4);
