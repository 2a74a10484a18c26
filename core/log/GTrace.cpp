#include "core/log/GTrace.h"

#include "platform/OutputFile.h"
#include "platform/Registry.h"
#include "platform/System.h"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

constexpr const char* kTraceKey = "Software\\GTRACE";
constexpr std::size_t kMaxMessageChars = 1023;

enum class TraceState { NotLoaded, Active, Off };

std::atomic<TraceState> traceState{TraceState::NotLoaded};

void SetState(TraceState state)
{
    traceState = state;
    gTraceOff = state == TraceState::Off;
}

// Loaded once per process; the file stays open until the process ends.
struct ProcessTrace {
    std::mutex lock;
    GTraceOptions_s options;
    std::FILE* file = nullptr;

    ~ProcessTrace() { Close(); }

    void Close()
    {
        if (file != nullptr) {
            std::fclose(file);
            file = nullptr;
        }
        SetState(TraceState::Off);
    }

    // Called under the lock.
    void Load()
    {
        options = GTraceOptions_s{};
        const bool found = GRegLoadTraceOptions(&options);
        if (!found || (options.Flags & kGtraceFlagOn) == 0) {
            SetState(TraceState::Off);
            return;
        }
        if ((options.Flags & kGtraceFlagDebugger) == 0) {
            std::string reason;
            file = options.FileName.empty()
                       ? nullptr
                       : harrow::platform::OpenOutputFile(options.FileName, harrow::platform::OutputMode::Replace,
                                                          &reason)
                             .release();
            if (file == nullptr) {
                SetState(TraceState::Off);
                return;
            }
        }
        SetState(TraceState::Active);
    }

    // True when tracing is on, loading the options on first use.
    bool IsActive()
    {
        if (traceState == TraceState::NotLoaded) {
            std::lock_guard guard(lock);
            if (traceState == TraceState::NotLoaded) {
                Load();
            }
        }
        return traceState == TraceState::Active;
    }
};

ProcessTrace& Trace()
{
    static ProcessTrace trace;
    return trace;
}

DWORD ReadDword(HKEY key, const char* name)
{
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value)) {
        return 0;
    }
    return value;
}

std::string ReadString(HKEY key, const char* name)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ ||
        size == 0) {
        return {};
    }
    std::vector<char> data(size);
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
        return {};
    }
    // Stop at the terminator the value was stored with.
    return std::string(data.data(), strnlen(data.data(), size));
}

bool WriteDword(HKEY key, const char* name, DWORD value)
{
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
           ERROR_SUCCESS;
}

bool WriteString(HKEY key, const char* name, const std::string& value)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

}  // namespace

bool GRegLoadTraceOptions(GTraceOptions_s* options)
{
    HKEY key = nullptr;
    if (options == nullptr || RegOpenKeyExA(HKEY_CURRENT_USER, kTraceKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    options->Flags = ReadDword(key, "Flags");
    options->Filter = ReadDword(key, "Filter");
    options->FileName = ReadString(key, "FileName");
    options->FilterFileName = ReadString(key, "FilterFile");
    RegCloseKey(key);
    return true;
}

bool GRegStoreTraceOptions(const GTraceOptions_s* options)
{
    HKEY key = nullptr;
    if (options == nullptr || RegCreateKeyExA(HKEY_CURRENT_USER, kTraceKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                              KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const bool stored = WriteDword(key, "Flags", options->Flags) && WriteDword(key, "Filter", options->Filter) &&
                        WriteString(key, "FileName", options->FileName) &&
                        WriteString(key, "FilterFile", options->FilterFileName);
    RegCloseKey(key);
    return stored;
}

void GTrace::Begin(unsigned long level, const char* format, ...)
{
    ProcessTrace& trace = Trace();
    if (format == nullptr || !trace.IsActive()) {
        return;
    }
    if (level != 0 && (level & trace.options.Filter) == 0) {
        return;
    }
    m_pLine = std::make_unique<Line>();
    if ((trace.options.Flags & kGtraceFlagLiteral) != 0) {
        m_pLine->message = format;
    } else {
        char text[kMaxMessageChars + 1];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof(text), format, args);
        va_end(args);
        m_pLine->message = text;
    }
    if ((trace.options.Flags & kGtraceFlagTiming) != 0) {
        m_pLine->startTime = Now();
        return;
    }
    const std::string line = m_pLine->message + "\n";
    Output(line.c_str(), static_cast<int>(line.size()));
}

void GTrace::End()
{
    if ((Trace().options.Flags & kGtraceFlagTiming) == 0) {
        return;
    }
    char elapsed[32];
    std::snprintf(elapsed, sizeof(elapsed), "...%ld\n", DiffTime(m_pLine->startTime, Now()));
    const std::string line = m_pLine->message + elapsed;
    Output(line.c_str(), static_cast<int>(line.size()));
}

void GTrace::Output(const char* text, int length)
{
    ProcessTrace& trace = Trace();
    if ((trace.options.Flags & kGtraceFlagDebugger) != 0) {
        MessageBoxA(nullptr, "GTrace can't output to DEBUGwindow - not in DEBUG", "GTrace", MB_OK);
        SetState(TraceState::Off);
        m_pLine.reset();
        return;
    }
    if (trace.file == nullptr || length <= 0) {
        return;
    }
    // One write per line, so lines of several threads do not mix.
    std::fwrite(text, 1, static_cast<std::size_t>(length), trace.file);
    std::fflush(trace.file);
}

void GTrace::ReloadOptions()
{
    ProcessTrace& trace = Trace();
    std::lock_guard guard(trace.lock);
    trace.Close();
    SetState(TraceState::NotLoaded);
}

GTrace::TraceTime GTrace::Now()
{
    using namespace std::chrono;
    const auto since = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return TraceTime{since / 1000, static_cast<unsigned short>(since % 1000)};
}

long GTrace::DiffTime(TraceTime start, TraceTime end)
{
    return static_cast<long>((end.time - start.time) * 1000 + end.millitm - start.millitm);
}
