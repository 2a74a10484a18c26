#pragma once

#include "core/types/SenseData.h"

#include <string>

// Words for a sense key and its additional sense code, as the core log shows
// them. Codes with no word leave codeText and qualifierText as they were.
// ASC 0x00, 0x15 and 0x31 depend on the qualifier too and go to qualifierText.
void InterpretSense(const SCSI_SenseData_s* sense, std::string& keyText, std::string& codeText,
                    std::string& qualifierText);

// The host adapter status byte (as ASPI reports it) in words.
const char* HostAdapterStatusText(int status);
