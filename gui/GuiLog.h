#pragma once

#include "frontend/LineLog.h"

// The windowed program's log writer has no console step.
constexpr LogFlags kGuiStamped{true, true, false};
constexpr LogFlags kGuiWithAddress{true, false, false};

inline void LogStamped(const std::string& text) { LogLine(text, nullptr, kGuiStamped); }
