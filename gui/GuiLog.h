#pragma once

#include "frontend/LineLog.h"

// The windowed program's log writer has no console step.
constexpr LogFlags GUI_STAMPED{true, true, false};
constexpr LogFlags GUI_WITH_ADDRESS{true, false, false};

inline void LogStamped(const std::string& text) { LogLine(text, nullptr, GUI_STAMPED); }
