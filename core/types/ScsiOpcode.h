#pragma once

#include <cstdint>

// Operation codes of the commands Harrow sends (SPC-4 annex D, SBC-3 table 13).
enum class ScsiOp : std::uint8_t {
    TestUnitReady = 0x00,
    RezeroUnit = 0x01,
    RequestSense = 0x03,
    FormatUnit = 0x04,
    ReassignBlocks = 0x07,
    Read6 = 0x08,
    Write6 = 0x0A,
    Seek6 = 0x0B,
    Inquiry = 0x12,
    ModeSelect6 = 0x15,
    ModeSense6 = 0x1A,
    StartStopUnit = 0x1B,
    ReceiveDiagnosticResults = 0x1C,
    SendDiagnostic = 0x1D,
    ReadCapacity10 = 0x25,
    Read10 = 0x28,
    Write10 = 0x2A,
    Seek10 = 0x2B,
    WriteAndVerify10 = 0x2E,
    Verify10 = 0x2F,
    Prefetch10 = 0x34,
    SynchronizeCache10 = 0x35,
    ReadDefectData10 = 0x37,
    WriteBuffer = 0x3B,
    ReadBuffer = 0x3C,
    ReadLong10 = 0x3E,
    WriteLong10 = 0x3F,
    WriteSame10 = 0x41,
    LogSelect = 0x4C,
    LogSense = 0x4D,
    ModeSelect10 = 0x55,
    ModeSense10 = 0x5A,
    PersistentReserveIn = 0x5E,
    PersistentReserveOut = 0x5F,
    Read16 = 0x88,
    Write16 = 0x8A,
    Verify16 = 0x8F,
    ServiceActionIn16 = 0x9E,
    ReportLuns = 0xA0,
    ReadDefectData12 = 0xB7,
};

// Service actions of SERVICE ACTION IN(16) (SBC-3 5.16).
enum class ServiceActionIn : std::uint8_t {
    ReadCapacity16 = 0x10,
};

constexpr std::uint8_t OpByte(ScsiOp op) { return static_cast<std::uint8_t>(op); }
