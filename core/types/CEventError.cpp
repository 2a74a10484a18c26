#include "core/types/CEventError.h"

#include "core/types/StringPrintf.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

// The additional length is byte 7 and counts from byte 8 in both formats. Fixed
// format's bytes 8-17 are its named fields (SPC-4 4.5.3); descriptor format has
// only descriptors there, every one of them additional (SPC-4 4.5.2.1).
constexpr int kFixedAdditionalBytes = 10;
constexpr std::size_t kDescriptorsBegin = 8;
constexpr int kBytesPerLine = 16;

}  // namespace

CEventError::CEventError(const CDevAddress& address, int cdbLength, const unsigned char* cdb,
                         const SCSI_SenseData_s* sense, Error_t targetStatus, Error_t haStatus, Error_t srbStatus,
                         Error_t code)
    : CEventBase(address, code),
      m_TargetStatus(targetStatus),
      m_HAStatus(haStatus),
      m_SRBStatus(srbStatus),
      m_ScsiForm(1)
{
    if (cdb != nullptr) {
        m_CdbLength = std::clamp(cdbLength, 0, kMaxCdbBytes);
        std::memcpy(m_Cdb, cdb, static_cast<std::size_t>(m_CdbLength));
    }
    if (sense != nullptr) {
        m_Sense = *sense;
    }
    m_bHard = GetSenseKey() != 1;
}

CEventError::CEventError(const std::string& message, Error_t code)
    : CEventBase(code), m_bHard(true), m_Message(message), m_ScsiForm(0)
{
}

std::string CEventError::toString()
{
    if (!IsScsiForm()) {
        return TimeText() + m_Message;
    }
    return ScsiText();
}

std::string CEventError::ScsiText() const
{
    std::string text = StringPrintf("Device: %d:%d:%d  CDB: ", m_Address.m_HostAdapter, m_Address.m_Target,
                                    m_Address.m_Lun);
    for (int i = 0; i < m_CdbLength; ++i) {
        text += StringPrintf("  %2.2X", m_Cdb[i]);
    }
    text += "  " + TimeText() + "\n";
    text += "Error_t = " + StringPrintf(" %2.2X\n", static_cast<unsigned>(m_Code));
    text += StringPrintf("Sense Key = %2.2X  ", GetSenseKey());
    text += StringPrintf("Additional Sense Code = %2.2X  ", GetASC());
    text += StringPrintf("Additional Sense Qualifier = %2.2X\n", GetASQ());
    if (m_Sense.IsIncorrectLength()) {
        text += "Illegal Length\n";
    }
    if (m_Sense.IsEndOfMedia()) {
        text += "End of Media\n";
    }
    if (m_Sense.IsFileMark()) {
        text += "File Mark\n";
    }
    if (m_Sense.IsCommandDataError()) {
        text += "CDB Error\n";
    }
    text += AdditionalBytesText();
    if (m_Sense.IsValid()) {
        // The low four bytes: all of fixed format's field, the block address of descriptor format's.
        const auto info = static_cast<std::uint32_t>(m_Sense.View().Information());
        text += StringPrintf("Info Bytes are valid: %d : %2.2X %2.2X %2.2X %2.2X\n", m_Sense.InformationValue(),
                             info >> 24, (info >> 16) & 0xFF, (info >> 8) & 0xFF, info & 0xFF);
    }
    text += StringPrintf("Target status = %d  ", static_cast<int>(m_TargetStatus));
    text += StringPrintf("Host Adapter Status = %d  ", static_cast<int>(m_HAStatus));
    text += StringPrintf("SRB Status = %8.8X", static_cast<unsigned>(m_SRBStatus));
    return text;
}

std::string CEventError::AdditionalBytesText() const
{
    const int additionalLength = m_Sense.AdditionalSenseLength;
    const bool descriptor = m_Sense.View().Descriptor();
    const int shown = descriptor ? additionalLength : additionalLength - kFixedAdditionalBytes;
    if (shown <= 0) {
        return {};
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&m_Sense);
    const std::size_t begin = descriptor ? kDescriptorsBegin : offsetof(SCSI_SenseData_s, AdditionalBytes);
    // A device may report more than the stored sense holds; print only what we have.
    const int count = std::min(shown, static_cast<int>(sizeof(m_Sense) - begin));
    std::string text = StringPrintf("Additional Length = %d\nAdditional Bytes: ", additionalLength);
    for (int i = 0; i < count; ++i) {
        text += StringPrintf("%2.2X  ", bytes[begin + static_cast<std::size_t>(i)]);
        if ((i + 1) % kBytesPerLine == 0) {
            text += "\n";
        }
    }
    return text + "\n";
}
