#pragma once

#include "frontend/DeviceRecord.h"

#include <cstdio>
#include <string>

// The file both programs append return forms to, in the current folder.
constexpr const char* kRmaFileName = "rmalog.txt";

// Contact details as typed, each ending in its line end.
struct RmaContact {
    std::string name;
    std::string phone;
    std::string email;
};

// The form's first line: date and time.
std::string RmaHeader();

// Writes one form, for the drive the record names (blank fields when it
// names no target or does not answer), to an open file. False when the
// file did not take it.
bool PrintRmaForm(std::FILE* file, const std::string& header, const DeviceRecord& record, const RmaContact& contact);
