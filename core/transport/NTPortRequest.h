#pragma once

#include "core/types/SenseData.h"
#include "platform/ntddscsi.h"

#include <cstddef>

// The NT port transport's request: the pass-through structure, the sense
// area the port fills, and how the delivery went. The whole structure is
// both input and output of the pass-through request.
#pragma pack(push, 1)
struct NTPortRequest_s {
    SCSI_PASS_THROUGH_DIRECT Spt;
    ULONG Filler;
    SCSI_SenseData_s Sense;
    ULONG Reserved;
    ULONG DeliveryState;   // DELIVERY_*
    ULONG DeliveryDetail;  // 1 on success, else the GetLastError code

    static constexpr ULONG kDeliverySent = 1;
    static constexpr ULONG kDeliveryFailed = 2;
    static constexpr ULONG kDetailOk = 1;
};
#pragma pack(pop)

static_assert(offsetof(NTPortRequest_s, Spt) == 0);
static_assert(offsetof(NTPortRequest_s, Spt.Length) == 0);
static_assert(offsetof(NTPortRequest_s, Spt.ScsiStatus) == 2);
static_assert(offsetof(NTPortRequest_s, Spt.PathId) == 3);
static_assert(offsetof(NTPortRequest_s, Spt.TargetId) == 4);
static_assert(offsetof(NTPortRequest_s, Spt.Lun) == 5);
static_assert(offsetof(NTPortRequest_s, Spt.CdbLength) == 6);
static_assert(offsetof(NTPortRequest_s, Spt.SenseInfoLength) == 7);
static_assert(offsetof(NTPortRequest_s, Spt.DataIn) == 8);
static_assert(offsetof(NTPortRequest_s, Spt.DataTransferLength) == 12);
static_assert(offsetof(NTPortRequest_s, Spt.TimeOutValue) == 16);
static_assert(offsetof(NTPortRequest_s, Spt.DataBuffer) == 20);
static_assert(offsetof(NTPortRequest_s, Spt.SenseInfoOffset) == 28);
static_assert(offsetof(NTPortRequest_s, Spt.Cdb) == 32);
static_assert(offsetof(NTPortRequest_s, Filler) == 48);
static_assert(offsetof(NTPortRequest_s, Sense) == 52);
static_assert(offsetof(NTPortRequest_s, Reserved) == 180);
static_assert(offsetof(NTPortRequest_s, DeliveryState) == 184);
static_assert(offsetof(NTPortRequest_s, DeliveryDetail) == 188);
static_assert(sizeof(NTPortRequest_s) == 192);
