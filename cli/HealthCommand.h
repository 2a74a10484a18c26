#pragma once

#include "cli/CommandLine.h"

// --health and --selftest work on one device.
bool TakesHealthDevice(CliCommand command);

// Runs --health, --selftest or --metrics; returns the exit status, a mask of
// health_bit values.
int RunHealthCommand(const CommandLine& line);
