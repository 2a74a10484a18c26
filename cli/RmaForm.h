#pragma once

#include "frontend/DeviceRecord.h"

// Asks for contact details and appends a return form for the drive (none
// when the record names no target) to "rmalog.txt". The exit code.
int WriteRmaForm(const DeviceRecord& record);
