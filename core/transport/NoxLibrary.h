#pragma once

#include "core/types/SenseData.h"
#include "platform/WinTypes.h"

#include <cstddef>
#include <cstdint>

// What passes between the Nox transport and its interface library
// "NOXCOMM.DLL": the request, the adapter and device lists, the buffer
// statistics, the library's status codes and its exported functions.

#pragma pack(push, 1)

// One request of a Nox control block. The data address is pointer-wide, so
// everything after it sits 4 bytes further than on a 32-bit build.
struct NoxRequest_s {
    BYTE Function;    // FUNCTION_EXECUTE
    BYTE Completion;  // set by the library: bits 0-5 status code, bit 7 sense present
    BYTE ScsiStatus;
    BYTE QueueTag;
    BYTE CdbLength;
    DWORD Flags;  // FLAG_*
    DWORD DataLength;
    DWORD Timeout;  // seconds
    void* DataBuffer;
    BYTE Reserved1[8];
    BYTE Cdb[16];
    BYTE Reserved2[8];
    SCSI_SenseData_s Sense;

    static constexpr BYTE FUNCTION_EXECUTE = 0;
    static constexpr BYTE CODE_MASK = 0x3F;
    static constexpr BYTE SENSE_PRESENT = 0x80;
    static constexpr DWORD FLAG_TAGGED = 0x02;
    static constexpr DWORD FLAG_DATA_IN = 0x40;
    static constexpr DWORD FLAG_DATA_OUT = 0x80;
};

// An entry of NoxHaEnum's list, after its 32-bit count.
struct NoxAdapterEntry_s {
    DWORD AdapterId;
    BYTE InitiatorId;
    BYTE Byte1;
    BYTE Byte2;
    DWORD Value1;
    DWORD Value2;
    DWORD PortNumber;  // as in "Scsi Port %d"
    BYTE Buses;
    BYTE Hidden;  // non-zero: not for the transport
};

// An entry of NoxEnumerate's list, after its 32-bit count.
struct NoxDeviceEntry_s {
    DWORD Handle;
    char Name[32];
    BYTE Path;
    BYTE Target;
    BYTE Lun;
    BYTE Extra;  // the library's peripheral device type
    DWORD AdapterId;
};

struct NoxBufferStats_s {
    DWORD TotalAllocated;
    DWORD Available;
    DWORD LargestContig;
};

#pragma pack(pop)

static_assert(offsetof(NoxRequest_s, Function) == 0);
static_assert(offsetof(NoxRequest_s, Completion) == 1);
static_assert(offsetof(NoxRequest_s, ScsiStatus) == 2);
static_assert(offsetof(NoxRequest_s, QueueTag) == 3);
static_assert(offsetof(NoxRequest_s, CdbLength) == 4);
static_assert(offsetof(NoxRequest_s, Flags) == 5);
static_assert(offsetof(NoxRequest_s, DataLength) == 9);
static_assert(offsetof(NoxRequest_s, Timeout) == 13);
static_assert(offsetof(NoxRequest_s, DataBuffer) == 17);
static_assert(offsetof(NoxRequest_s, Reserved1) == 25);
static_assert(offsetof(NoxRequest_s, Cdb) == 33);
static_assert(offsetof(NoxRequest_s, Reserved2) == 49);
static_assert(offsetof(NoxRequest_s, Sense) == 57);
static_assert(sizeof(NoxRequest_s) == 185);

static_assert(offsetof(NoxAdapterEntry_s, InitiatorId) == 4);
static_assert(offsetof(NoxAdapterEntry_s, Value1) == 7);
static_assert(offsetof(NoxAdapterEntry_s, PortNumber) == 15);
static_assert(offsetof(NoxAdapterEntry_s, Buses) == 19);
static_assert(offsetof(NoxAdapterEntry_s, Hidden) == 20);
// Each field at its own width: the two values are 32-bit, which makes an
// entry 21 bytes rather than 17.
static_assert(sizeof(NoxAdapterEntry_s) == 21);
static_assert(offsetof(NoxDeviceEntry_s, Name) == 4);
static_assert(offsetof(NoxDeviceEntry_s, Path) == 36);
static_assert(offsetof(NoxDeviceEntry_s, Extra) == 39);
static_assert(offsetof(NoxDeviceEntry_s, AdapterId) == 40);
static_assert(sizeof(NoxDeviceEntry_s) == 44);
static_assert(sizeof(NoxBufferStats_s) == 12);

// Status codes of the library.
namespace nox_code {
constexpr DWORD PENDING = 0;
constexpr DWORD DONE = 1;
constexpr DWORD ABORTED = 2;
constexpr DWORD CHECK_CONDITION = 4;
constexpr DWORD BUSY = 5;
constexpr DWORD INVALID_REQUEST = 6;
constexpr DWORD NO_DEVICE = 8;
constexpr DWORD TIMEOUT = 9;
constexpr DWORD SELECTION_TIMEOUT = 10;
constexpr DWORD DATA_OVERRUN = 18;
constexpr DWORD NOT_INITIALIZED = 0x80000002;
constexpr DWORD NO_RESOURCE = 0x80000004;
constexpr DWORD DRIVER_FAILURE = 0x80000005;
constexpr DWORD INVALID_PARAM = 0x80000009;
constexpr DWORD MORE_DATA = 0x8000000A;
constexpr DWORD NO_MEMORY = 0x8000000E;
}  // namespace nox_code

// The library's exports, by name.
extern "C" {
using NoxInitLibrary_t = DWORD (*)();
using NoxTermLibrary_t = DWORD (*)();
using NoxHaEnum_t = DWORD (*)(void* buffer, DWORD* size);
using NoxRefresh_t = DWORD (*)(DWORD adapterId);
using NoxEnumerate_t = DWORD (*)(void* buffer, DWORD* size);
using NoxExecuteIOCmd_t = DWORD (*)(DWORD deviceHandle, void* request);
using NoxGetCompletion_t = DWORD (*)(void* request, DWORD wait);
using NoxBufferGet_t = DWORD (*)(DWORD size, void** address);
using NoxBufferRelease_t = DWORD (*)(void* address);
using NoxBufferReleaseAll_t = DWORD (*)();
using NoxBufferGetStats_t = LONG (*)(NoxBufferStats_s* stats);
}
