#pragma once

#include "frontend/DeviceRecord.h"

#include <functional>
#include <string>

// Program-wide settings of the console and the log file.
struct LogSettings {
    // Rows of the console; 0 = no paging (output or input is not a terminal).
    int pageHeight = 0;
    // The file every logged line is appended to; empty = none.
    std::string logFileName;
    // Told the text of every logged line, for a report that follows a run.
    std::function<void(const std::string&)> observer;
    // The windowed program: its log writer has no console step, and a line
    // logged for a device names it even where the routine asks for no address,
    // since many drives run at once there.
    bool windowed = false;
};

LogSettings& GetLogSettings();

// The local time now, formatted with strftime.
std::string TimeStamp(const char* format);

std::string FormatDeviceAddress(const DeviceRecord& record);

struct LogFlags {
    bool withTime = false;
    bool withoutAddress = false;
    bool toConsole = false;
};

// Writes one result line to the console (paging across calls) and the log files.
void LogLine(const std::string& text, const DeviceRecord* record, LogFlags flags);

// Prints text line by line, pausing after every page within this call.
void PrintPaged(const std::string& text);

// The prompt of both pagers.
constexpr const char* kMorePrompt = "more..... Press <Enter> to continue";
