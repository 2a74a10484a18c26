#pragma once

#include "frontend/DeviceRecord.h"

// Lists every device on every adapter; 0 when one was found, else 1.
int ListDevices();

// Everything known about one drive; 0, or 1 when it failed INQUIRY.
int InquiryReport(DeviceRecord record);
