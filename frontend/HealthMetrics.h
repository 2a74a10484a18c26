#pragma once

#include "frontend/DriveHealth.h"

#include <filesystem>
#include <string>
#include <vector>

// The drives' health figures in the Prometheus text exposition format
// (version 0.0.4), for node_exporter's textfile collector. A figure the
// drive did not give is left out, never written as 0.
std::string HealthMetricsText(const std::vector<HealthReport>& reports);

// Writes the text beside the file, flushes it to the disk and renames it
// over the file, so a collector never reads half a file; concurrent writers
// take turns. False with `error` set when any step fails; the old file then
// stays as it was.
bool ReplaceFileAtomically(const std::filesystem::path& file, const std::string& text, std::string& error);
