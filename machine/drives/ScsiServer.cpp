#include "machine/drives/ScsiServer.h"

#include "machine/drives/Bytes.h"

#include <algorithm>
#include <array>

namespace harrow::machine::drives {
namespace {

constexpr std::uint8_t kSequentialAccess = 0x01;  // peripheral device type of a tape

std::size_t CdbLength(std::uint8_t op)
{
    switch (op >> 5) {
    case 0: return 6;
    case 1:
    case 2: return 10;
    case 5: return 12;
    default: return 16;
    }
}

}  // namespace

ScsiServer::ScsiServer(UnitConfig config)
    : m_config(std::move(config)), m_busyLeft(m_config.faults.busy),
      m_powerOnAttentionsLeft(m_config.faults.unitAttentions)
{
}

ScsiResult ScsiServer::Execute(const ScsiRequest& request)
{
    if (m_config.faults.selectionTimeout) {
        ScsiResult result;
        result.outcome = PortOutcome::SelectionTimeout;
        return result;
    }
    std::lock_guard lock(m_mutex);
    if (m_busyLeft > 0) {
        --m_busyLeft;
        ScsiResult result;
        result.status = 0x08;
        return result;
    }
    if (request.cdb.empty()) {
        return CheckCondition(sense::kInvalidOpcode);
    }
    // A device reads as many CDB bytes as the opcode's group fixes; missing
    // bytes read as zero, so no handler can index past the CDB.
    std::array<std::uint8_t, 16> cdb{};
    std::copy_n(request.cdb.begin(), std::min<std::size_t>(request.cdb.size(), cdb.size()), cdb.begin());
    ScsiRequest padded = request;
    padded.cdb = std::span<const std::uint8_t>(cdb.data(), CdbLength(cdb[0]));
    return Serve(padded);
}

std::optional<SenseCode> ScsiServer::TakeUnitAttention()
{
    if (m_powerOnAttentionsLeft > 0) {
        --m_powerOnAttentionsLeft;
        return sense::kPowerOnReset;
    }
    if (!m_attentions.empty()) {
        const SenseCode code = m_attentions.front();
        m_attentions.pop_front();
        return code;
    }
    return std::nullopt;
}

ScsiResult ScsiServer::Answer(const ScsiRequest& request)
{
    ScsiResult result = AnswerFixed(request);
    if (DescriptorSense()) {
        UseDescriptorSense(result, PeripheralType() == kSequentialAccess);
    }
    return result;
}

ScsiResult ScsiServer::AnswerFixed(const ScsiRequest& request)
{
    const std::uint8_t op = request.cdb[0];
    if (op == opcode::kInquiry) {
        return Inquiry(request);
    }
    if (op == opcode::kReportLuns) {
        return ReportLuns(request);
    }
    if (op == opcode::kRequestSense) {
        return RequestSense(request);
    }
    if (const auto attention = TakeUnitAttention()) {
        return CheckCondition(*attention);
    }
    return Dispatch(request);
}

std::vector<std::uint8_t> ScsiServer::StandardInquiry() const
{
    std::vector<std::uint8_t> data(96, 0);
    data[0] = PeripheralType();
    data[1] = PeripheralType() == 0x00 ? 0x00 : 0x80;  // removable medium
    data[2] = 0x05;                                    // SPC-3
    data[3] = 0x12;                                    // HiSup, response data format 2
    data[4] = static_cast<std::uint8_t>(data.size() - 5);
    data[7] = 0x02;  // command queuing
    PutText(data, 8, 8, m_config.vendor);
    PutText(data, 16, 16, m_config.product);
    PutText(data, 32, 4, m_config.revision);
    PutText(data, 36, 8, m_config.serial);
    return data;
}

ScsiResult ScsiServer::Inquiry(const ScsiRequest& request)
{
    const auto cdb = request.cdb;
    const bool evpd = cdb[1] & 0x01;
    const int page = cdb[2];
    const auto allocation = static_cast<std::uint32_t>(GetBE(cdb, 3, 2));
    // Bits 5-7 are the obsolete LUN field that SCSI-2 initiators still fill: ignored, as drives do.
    if ((cdb[1] & 0x1E) || (!evpd && page != 0)) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    if (!evpd) {
        return DataIn(request, StandardInquiry(), allocation);
    }
    std::vector<std::uint8_t> data(4, 0);
    data[0] = PeripheralType();
    data[1] = static_cast<std::uint8_t>(page);
    if (page == 0x00) {
        for (int code : {0x00, 0x80, 0x83}) {
            data.push_back(static_cast<std::uint8_t>(code));
        }
        for (int code : VendorPages()) {
            data.push_back(static_cast<std::uint8_t>(code));
        }
    } else if (page == 0x80) {
        data.resize(4 + 8);
        PutText(data, 4, 8, m_config.serial);
    } else if (page == 0x83) {
        // One NAA identifier, binary: the world wide name.
        data.insert(data.end(), {0x01, 0x03, 0x00, 0x08});
        data.resize(16);
        PutBE(data, 8, 8, m_config.wwn);
    } else {
        data = VendorPage(page);
        if (data.empty()) {
            return CheckCondition(sense::kInvalidCdbField);
        }
    }
    PutBE(data, 2, 2, data.size() - 4);
    return DataIn(request, data, allocation);
}

ScsiResult ScsiServer::RequestSense(const ScsiRequest& request)
{
    const auto cdb = request.cdb;
    std::array<std::uint8_t, 18> data{};
    if (const auto attention = TakeUnitAttention()) {
        FillSense(data, *attention);
    } else {
        const Condition condition = CurrentCondition();
        FillSense(data, condition.code, condition.extras);
    }
    // DESC chooses the format here, whatever D_SENSE says (SPC-3 6.27).
    if (cdb[1] & 0x01) {
        std::array<std::uint8_t, kDescriptorSenseMax> descriptor{};
        const std::size_t length = FillDescriptorSense(data, descriptor, PeripheralType() == kSequentialAccess);
        return DataIn(request, std::span<const std::uint8_t>(descriptor.data(), length), cdb[4]);
    }
    return DataIn(request, data, cdb[4]);
}

ScsiResult ScsiServer::ReportLuns(const ScsiRequest& request)
{
    const auto cdb = request.cdb;
    const auto allocation = static_cast<std::uint32_t>(GetBE(cdb, 6, 4));
    if (allocation < 16 || cdb[2] > 2) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    std::vector<std::uint8_t> data(16, 0);
    PutBE(data, 0, 4, 8);
    data[9] = static_cast<std::uint8_t>(m_config.lun);
    return DataIn(request, data, allocation);
}

}  // namespace harrow::machine::drives
