#include "frontend/LineLog.h"
#include "frontend/TextFormat.h"
#include "platform/OutputFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>

namespace {

int g_linesOnPage = 0;

void WaitForEnter()
{
    std::fputs(kMorePrompt, stdout);
    std::fflush(stdout);
    std::getchar();
}

// A line the log cannot take is told on stderr, once for each file until it
// takes lines again, so that a full disk never loses results unseen. A name
// that is a link or a device is refused the same way; the run goes on without it.
void AppendTo(const std::string& fileName, const std::string& line)
{
    std::string reason;
    const harrow::platform::OutputFile file =
        harrow::platform::OpenOutputFile(fileName, harrow::platform::OutputMode::Append, &reason);
    if (file && (std::fputs(line.c_str(), file.get()) < 0 || std::fflush(file.get()) != 0)) {
        reason = std::strerror(errno);
    }
    static std::mutex lock;
    static std::set<std::string> failing;
    const std::lock_guard guard(lock);
    if (reason.empty()) {
        failing.erase(fileName);
    } else if (failing.insert(fileName).second) {
        std::fprintf(stderr, "harrow: cannot write the log file %s: %s\n", fileName.c_str(), reason.c_str());
    }
}

void PrintCountingLines(const std::string& line)
{
    std::fputs(line.c_str(), stdout);
    const int height = GetLogSettings().pageHeight;
    if (height <= 0) {
        return;
    }
    for (const char c : line) {
        if (c != '\n') {
            continue;
        }
        // Lines past a page that shrank still turn it.
        if (++g_linesOnPage + 1 >= height) {
            WaitForEnter();
            g_linesOnPage = 0;
        }
    }
}

}  // namespace

std::string TimeStamp(const char* format)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, format, &local));
}

LogSettings& GetLogSettings()
{
    static LogSettings settings;
    return settings;
}

std::string FormatDeviceAddress(const DeviceRecord& record)
{
    std::string text = Format("Port:%d ", record.hostAdapter);
    auto raidNumbers = [&] {
        if (record.channel != kNoNumber) {
            text += Format("Channel:%d ", record.channel);
        }
        if (record.raidTarget != kNoNumber) {
            text += Format("RaidTarget:%d ", record.raidTarget);
        }
    };
    switch (record.kind) {
    case KIND_RAID:
        text += Format("Target:%d ", record.target);
        raidNumbers();
        break;
    case KIND_CHANNEL:
        raidNumbers();
        break;
    default:
        text += Format("Target:%d ", record.target);
        text += Format("Lun:%d ", record.lun);
        break;
    }
    return text;
}

void LogLine(const std::string& text, const DeviceRecord* record, LogFlags flags)
{
    const bool windowed = GetLogSettings().windowed;
    const bool withAddress = !flags.withoutAddress || windowed;
    const std::string address = withAddress && record != nullptr ? FormatDeviceAddress(*record) : "";
    const std::string line =
        flags.withTime ? Format("%s %s %s %s\n", TimeStamp("%d-%b-%Y").c_str(), TimeStamp("%H:%M:%S").c_str(),
                                address.c_str(), text.c_str())
                       : Format("%s %s\n", address.c_str(), text.c_str());
    if (flags.toConsole && !windowed) {
        PrintCountingLines(line);
    }
    if (const auto& observer = GetLogSettings().observer) {
        observer(text);
    }
    if (const std::string& logFile = GetLogSettings().logFileName; !logFile.empty()) {
        AppendTo(logFile, line);
    }
    if (record != nullptr && !record->logName.empty()) {
        AppendTo(record->logName + ".txt", line);
    }
}

void PrintPaged(const std::string& text)
{
    const int pageLines = GetLogSettings().pageHeight - 2;
    int printed = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (pageLines > 0 && printed == pageLines) {
            WaitForEnter();
            printed = 0;
        }
        std::printf("%s\n", text.substr(start, end - start).c_str());
        ++printed;
        start = end + 1;
    }
}
