#pragma once

#include <string>

// printf into a std::string, for the fixed-format texts of events and logs.
std::string StringPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
