// Operation codes the simulated devices answer (SPC-3 annex D, SBC-2,
// SSC-2, MMC-4, SMC-2). The device servers parse commands on their own, apart
// from the front ends' builders, so one mistake cannot pass on both sides.
#pragma once

#include <cstdint>

namespace harrow::machine::drives::opcode {

inline constexpr std::uint8_t kTestUnitReady = 0x00;
inline constexpr std::uint8_t kRezeroUnit = 0x01;
inline constexpr std::uint8_t kRequestSense = 0x03;
inline constexpr std::uint8_t kFormatUnit = 0x04;
inline constexpr std::uint8_t kReassignBlocks = 0x07;
inline constexpr std::uint8_t kRead6 = 0x08;
inline constexpr std::uint8_t kWrite6 = 0x0A;
inline constexpr std::uint8_t kSeek6 = 0x0B;
inline constexpr std::uint8_t kInquiry = 0x12;
inline constexpr std::uint8_t kModeSelect6 = 0x15;
inline constexpr std::uint8_t kReserve6 = 0x16;
inline constexpr std::uint8_t kRelease6 = 0x17;
inline constexpr std::uint8_t kModeSense6 = 0x1A;
inline constexpr std::uint8_t kStartStopUnit = 0x1B;
inline constexpr std::uint8_t kReceiveDiagnosticResults = 0x1C;
inline constexpr std::uint8_t kSendDiagnostic = 0x1D;
inline constexpr std::uint8_t kReadCapacity10 = 0x25;
inline constexpr std::uint8_t kRead10 = 0x28;
inline constexpr std::uint8_t kWrite10 = 0x2A;
inline constexpr std::uint8_t kSeek10 = 0x2B;
inline constexpr std::uint8_t kWriteAndVerify10 = 0x2E;
inline constexpr std::uint8_t kVerify10 = 0x2F;
inline constexpr std::uint8_t kPrefetch10 = 0x34;
inline constexpr std::uint8_t kSynchronizeCache10 = 0x35;
inline constexpr std::uint8_t kReadDefectData10 = 0x37;
inline constexpr std::uint8_t kWriteBuffer = 0x3B;
inline constexpr std::uint8_t kReadBuffer = 0x3C;
inline constexpr std::uint8_t kReadLong10 = 0x3E;
inline constexpr std::uint8_t kWriteLong10 = 0x3F;
inline constexpr std::uint8_t kWriteSame10 = 0x41;
inline constexpr std::uint8_t kLogSelect = 0x4C;
inline constexpr std::uint8_t kLogSense = 0x4D;
inline constexpr std::uint8_t kModeSelect10 = 0x55;
inline constexpr std::uint8_t kReserve10 = 0x56;
inline constexpr std::uint8_t kRelease10 = 0x57;
inline constexpr std::uint8_t kModeSense10 = 0x5A;
inline constexpr std::uint8_t kRead16 = 0x88;
inline constexpr std::uint8_t kWrite16 = 0x8A;
inline constexpr std::uint8_t kServiceActionIn16 = 0x9E;
inline constexpr std::uint8_t kReportLuns = 0xA0;
inline constexpr std::uint8_t kReadDefectData12 = 0xB7;

}  // namespace harrow::machine::drives::opcode
