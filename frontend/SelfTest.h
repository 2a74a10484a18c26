#pragma once

#include "frontend/DeviceRecord.h"

// The drive's own self test, started, watched and stopped from the host.

// SEND DIAGNOSTIC with the background short or extended self-test code.
// The outcome code (0 = started); a failure sets the record's failed state.
int StartSelfTest(DeviceRecord& record, bool extended);

// Starts the test and follows it up to the record's percentage (0 = 100),
// aborting it there. 0 = completed without error, 1 = failed to start or
// completed with error.
int RunSelfTest(DeviceRecord& record, bool extended);

// Percent complete from REQUEST SENSE, 0 to 100; 100 also when the drive no
// longer reports a test running.
int SelfTestProgress(DeviceRecord& record);

// Moves the record's state and status text to what the result code of the
// newest self-test log entry says.
void ReportSelfTestResult(DeviceRecord& record, int resultCode);

// SEND DIAGNOSTIC: abort the background self test. True when the drive took
// it, false when it refused (no test was running) or did not answer.
bool AbortSelfTest(DeviceRecord& record);

// Aborts a running self test; 1 when the drive then logs it as aborted, else 0.
int StopSelfTest(DeviceRecord& record);
