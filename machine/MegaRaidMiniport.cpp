#include "machine/MegaRaidMiniport.h"

#include "raidplugin/MegaRaidPassThrough.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace harrow::machine {
namespace {

constexpr BYTE kOpRequestSense = 0x03;
constexpr BYTE kStatusCheckCondition = 0x02;

// The buffer carries no direction: the controller takes it from the opcode.
DataDirection DirectionOf(BYTE opcode, std::uint32_t length)
{
    static const std::set<BYTE> kDataOut = {0x04, 0x07, 0x0A, 0x15, 0x18, 0x1D, 0x2A, 0x2E, 0x2F,
                                            0x3B, 0x3F, 0x41, 0x4C, 0x55};
    if (length == 0) {
        return DataDirection::None;
    }
    return kDataOut.count(opcode) != 0 ? DataDirection::Out : DataDirection::In;
}

BOOL Refuse(DWORD* bytesReturned, DWORD* error)
{
    *bytesReturned = 0;
    *error = ERROR_INVALID_PARAMETER;
    return FALSE;
}

}  // namespace

MegaRaidMiniport::MegaRaidMiniport(Execute execute) : m_execute(std::move(execute)) {}

BOOL MegaRaidMiniport::PassThrough(const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* bytesReturned,
                                   DWORD* error)
{
    if (in == nullptr || in != out || inSize != outSize || inSize < sizeof(MegaRaidPassThrough)) {
        return Refuse(bytesReturned, error);
    }
    auto* header = static_cast<MegaRaidPassThrough*>(out);
    // The data must lie inside the buffer the caller handed over.
    if (header->DataLength > inSize - sizeof(MegaRaidPassThrough) || header->CdbLength == 0 ||
        header->CdbLength > sizeof header->Cdb) {
        return Refuse(bytesReturned, error);
    }
    ScsiRequest request;
    request.cdb = std::span<const std::uint8_t>(header->Cdb, header->CdbLength);
    request.direction = DirectionOf(header->Cdb[0], header->DataLength);
    request.data = std::span<std::uint8_t>(static_cast<std::uint8_t*>(out) + sizeof(MegaRaidPassThrough),
                                           header->DataLength);
    request.timeoutSeconds = header->Timeout;
    bool present = false;
    const ScsiResult result = Run(static_cast<UCHAR>(header->ChannelTarget >> 4),
                                  static_cast<UCHAR>(header->ChannelTarget & 0x0F), request, &present);
    if (!present || result.outcome == PortOutcome::SelectionTimeout || header->Lun != 0) {
        header->Status = STATUS_NO_DEVICE;
    } else {
        const BYTE scsiStatus = result.outcome == PortOutcome::Busy ? BYTE{0x08} : result.status;
        header->ScsiStatus = scsiStatus;
        header->Status = scsiStatus == 0 ? STATUS_GOOD : static_cast<BYTE>(STATUS_FAILED | scsiStatus);
        std::memcpy(header->SenseArea, result.sense.data(),
                    std::min<std::size_t>(result.senseLength, sizeof header->SenseArea));
    }
    *bytesReturned = inSize;
    *error = ERROR_SUCCESS;
    return TRUE;
}

ScsiResult MegaRaidMiniport::Run(UCHAR channel, UCHAR target, const ScsiRequest& request, bool* present)
{
    const auto key = std::make_pair(channel, target);
    {
        std::lock_guard lock(m_lock);
        const auto pending = m_pendingSense.find(key);
        if (pending != m_pendingSense.end() && request.cdb[0] == kOpRequestSense) {
            ScsiResult answer;
            answer.transferred = std::min<std::uint32_t>(pending->second.senseLength,
                                                         static_cast<std::uint32_t>(request.data.size()));
            std::copy_n(pending->second.sense.begin(), answer.transferred, request.data.begin());
            m_pendingSense.erase(pending);
            *present = true;
            return answer;
        }
        m_pendingSense.erase(key);
    }
    const std::optional<ScsiResult> result = m_execute(channel, target, request);
    *present = result.has_value();
    if (!result) {
        return {};
    }
    if (result->status == kStatusCheckCondition && result->senseLength != 0) {
        std::lock_guard lock(m_lock);
        m_pendingSense[key] = *result;
    }
    return *result;
}

}  // namespace harrow::machine
