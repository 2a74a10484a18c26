#pragma once

#include "frontend/DeviceRecord.h"
#include "frontend/DriveHealth.h"
#include "frontend/HealthText.h"

#include <functional>
#include <optional>

// The drive's own self test on any SCSI disk (SPC-4 5.11): started with SEND
// DIAGNOSTIC, followed through REQUEST SENSE, judged by the self-test log.

enum class SelfTestAction { Short, Extended, Abort };

struct SelfTestOutcome {
    SelfTestAction action = SelfTestAction::Short;
    bool reached = false;
    // Sense of a SEND DIAGNOSTIC the drive did not take.
    std::optional<SenseCodes> refused;
    // The newest entry of the self-test log once the test ended.
    std::optional<SelfTestRecord> newest;
    unsigned bits = 0;  // health_bit values
};

using LinePrinter = std::function<void(const HealthLine&)>;

// Runs the action and prints what happens, the last line being the verdict.
SelfTestOutcome RunDiskSelfTest(const DeviceRecord& record, SelfTestAction action, const LinePrinter& print);
