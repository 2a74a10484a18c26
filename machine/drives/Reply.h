// Builds what a device server answers: GOOD with data cut to the allocation
// length, or CHECK CONDITION with fixed-format sense, rewritten in descriptor
// format when the unit asks for it.
#pragma once

#include "machine/LogicalUnit.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace harrow::machine::drives {

struct SenseCode {
    std::uint8_t key = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
};

// The sense codes the servers answer with most.
namespace sense {
inline constexpr SenseCode kNone{0x0, 0x00, 0x00};
inline constexpr SenseCode kInvalidOpcode{0x5, 0x20, 0x00};
inline constexpr SenseCode kLbaOutOfRange{0x5, 0x21, 0x00};
inline constexpr SenseCode kInvalidCdbField{0x5, 0x24, 0x00};
inline constexpr SenseCode kInvalidParameter{0x5, 0x26, 0x00};
inline constexpr SenseCode kParameterListLength{0x5, 0x1A, 0x00};
inline constexpr SenseCode kUnrecoveredRead{0x3, 0x11, 0x00};
inline constexpr SenseCode kPowerOnReset{0x6, 0x29, 0x00};
inline constexpr SenseCode kDeviceInternalReset{0x6, 0x29, 0x04};
inline constexpr SenseCode kFormatFailed{0x3, 0x31, 0x01};
inline constexpr SenseCode kMicrocodeChanged{0x6, 0x3F, 0x01};
inline constexpr SenseCode kBecomingReady{0x2, 0x04, 0x01};
inline constexpr SenseCode kStartRequired{0x2, 0x04, 0x02};
inline constexpr SenseCode kFormatInProgress{0x2, 0x04, 0x04};
inline constexpr SenseCode kSelfTestInProgress{0x2, 0x04, 0x09};
inline constexpr SenseCode kNoMedium{0x2, 0x3A, 0x00};
inline constexpr SenseCode kDataPhaseError{0xB, 0x4B, 0x00};
inline constexpr SenseCode kInternalFailure{0x4, 0x44, 0x00};
inline constexpr SenseCode kWriteProtected{0x7, 0x27, 0x00};
}  // namespace sense

// Optional parts of fixed-format sense data.
struct SenseExtras {
    std::optional<std::uint32_t> information{};  // sets VALID
    std::optional<std::uint16_t> progress{};  // sense-key-specific progress, sets SKSV
    bool filemark = false;
    bool endOfMedium = false;
    bool ili = false;
    bool deferred = false;  // response code 0x71: the error of an earlier command
};

// Fixed-format (0x70) sense data, 18 bytes.
void FillSense(std::span<std::uint8_t, 18> out, SenseCode code, const SenseExtras& extras = {});

// Descriptor-format (0x72, 0x73) sense of the same content, SPC-3 4.5.2:
// information, sense-key-specific and FRU descriptors when set; the filemark,
// EOM and ILI bits in a stream commands descriptor for a stream device, else
// ILI alone in a block commands descriptor. Returns the length written; out
// must hold kDescriptorSenseMax bytes.
inline constexpr std::size_t kDescriptorSenseMax = 8 + 12 + 8 + 4 + 4;
std::size_t FillDescriptorSense(std::span<const std::uint8_t, 18> fixed, std::span<std::uint8_t> out, bool stream);

// Rewrites the fixed-format sense of a CHECK CONDITION in descriptor format,
// as a unit with D_SENSE set in its Control mode page answers.
void UseDescriptorSense(ScsiResult& result, bool stream);

ScsiResult Good(std::uint32_t transferred = 0);
ScsiResult CheckCondition(SenseCode code, const SenseExtras& extras = {}, std::uint32_t transferred = 0);

// GOOD with bytes copied into the host buffer, cut to the allocation length
// and to the buffer's size.
ScsiResult DataIn(const ScsiRequest& request, std::span<const std::uint8_t> bytes, std::uint32_t allocation);

// The data-out bytes a command asked for: at most length bytes, fewer when
// the host buffer is shorter.
std::span<const std::uint8_t> DataOut(const ScsiRequest& request, std::uint32_t length);

}  // namespace harrow::machine::drives
