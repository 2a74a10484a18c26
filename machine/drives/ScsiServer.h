// What every simulated SCSI device answers alike: the port-level faults,
// unit attentions, INQUIRY, REQUEST SENSE and REPORT LUNS. Device kinds add
// their own commands.
#pragma once

#include "machine/LogicalUnit.h"
#include "machine/drives/Opcode.h"
#include "machine/drives/Reply.h"
#include "machine/drives/UnitConfig.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace harrow::machine::drives {

// A condition REQUEST SENSE reports when no unit attention is pending.
struct Condition {
    SenseCode code;
    SenseExtras extras;
};

class ScsiServer : public LogicalUnit {
public:
    ScsiResult Execute(const ScsiRequest& request) final;
    double ServiceSeconds() const final { return m_config.commandSeconds; }
    bool SerializesCommands() const final { return true; }

protected:
    explicit ScsiServer(UnitConfig config);

    // Runs one command while this server's mutex is held; devices with
    // persistent state wrap Answer in their state session.
    virtual ScsiResult Serve(const ScsiRequest& request) { return Answer(request); }
    // The command's answer, its sense in the format the unit is set to.
    ScsiResult Answer(const ScsiRequest& request);

    virtual ScsiResult Dispatch(const ScsiRequest& request) = 0;
    virtual std::uint8_t PeripheralType() const = 0;
    virtual Condition CurrentCondition() { return {}; }
    // D_SENSE of the Control mode page (SPC-3 7.4.6): sense of CHECK
    // CONDITION in descriptor format. Without the page, the machine file's choice.
    virtual bool DescriptorSense() const { return m_config.descriptorSense; }
    virtual std::vector<std::uint8_t> StandardInquiry() const;
    // Vital product data pages besides 0x00, 0x80 and 0x83; empty = none.
    virtual std::vector<int> VendorPages() const { return {}; }
    virtual std::vector<std::uint8_t> VendorPage(int) const { return {}; }

    void RaiseUnitAttention(SenseCode code) { m_attentions.push_back(code); }

    const UnitConfig& Config() const { return m_config; }

private:
    ScsiResult AnswerFixed(const ScsiRequest& request);
    ScsiResult Inquiry(const ScsiRequest& request);
    ScsiResult RequestSense(const ScsiRequest& request);
    ScsiResult ReportLuns(const ScsiRequest& request);
    std::optional<SenseCode> TakeUnitAttention();

    UnitConfig m_config;
    std::mutex m_mutex;
    int m_busyLeft;
    int m_powerOnAttentionsLeft;
    std::deque<SenseCode> m_attentions;
};

}  // namespace harrow::machine::drives
