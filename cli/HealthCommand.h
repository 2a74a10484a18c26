#pragma once

#include "cli/CommandLine.h"

// Runs --health, --selftest or --metrics; returns the exit status, a mask of
// health_bit values.
int RunHealthCommand(const CommandLine& line);
