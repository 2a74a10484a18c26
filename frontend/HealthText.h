#pragma once

#include "frontend/DriveHealth.h"

#include <string>
#include <vector>

// One line of the health report; an alarm line is one a window shows in red.
struct HealthLine {
    std::string text;
    bool alarm = false;
};

// The report as both programs show it, ending with the verdict line.
std::vector<HealthLine> HealthReportLines(const HealthReport& report);

// "SCSI health: OK" or "SCSI health: FAILED: <reason>[; <reason>]".
std::string HealthVerdict(const HealthReport& report);

bool HealthVerdictOk(const HealthReport& report);

// Name of a page the report reads ("Write error counters").
const char* HealthPageName(int code);

// "KK/AA/QQ": sense key, ASC and ASCQ in hexadecimal.
std::string SenseCodesText(const SenseCodes& sense);

// One self-test log entry as the report and the self-test command show it.
std::string SelfTestEntryText(const SelfTestRecord& entry);
