#pragma once

#include "platform/WinTypes.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

// Trace options under HKEY_CURRENT_USER "Software\GTRACE".
struct GTraceOptions_s {
    std::string FileName;
    std::string FilterFileName;  // kept with the others, used by nothing
    DWORD Flags = 0;
    DWORD Filter = 0;            // trace levels written
};

constexpr DWORD kGtraceFlagOn = 0x01;
constexpr DWORD kGtraceFlagTiming = 0x02;
constexpr DWORD kGtraceFlagDebugger = 0x10;
constexpr DWORD kGtraceFlagLiteral = 0x20;

// False when the key is missing; absent values read as 0 or empty.
bool GRegLoadTraceOptions(GTraceOptions_s* options);
// Creates the key when missing.
bool GRegStoreTraceOptions(const GTraceOptions_s* options);

// True while the loaded options leave tracing off; read by every scope.
inline std::atomic<bool> gTraceOff{false};

// A developers' trace scope: writes one line per traced operation to the
// trace file when tracing is switched on in the registry; in timing mode the
// line is written when the scope ends, with its duration in milliseconds.
class GTrace {
public:
    // The format takes printf's conversions. Inline, so a scope costs one
    // flag test while tracing is off.
    template <typename... Args>
    GTrace(unsigned long level, const char* format, Args... args)
    {
        if (!gTraceOff.load(std::memory_order_acquire)) {
            Begin(level, format, args...);
        }
    }
    GTrace(const GTrace& other) : m_pLine(CopyOf(other.m_pLine)) {}
    GTrace& operator=(const GTrace& other)
    {
        m_pLine = CopyOf(other.m_pLine);
        return *this;
    }

protected:
    virtual void Output(const char* text, int length);

public:
    virtual ~GTrace()
    {
        if (m_pLine) {
            End();
        }
    }

    // Forgets the loaded options and closes the trace file, so the next trace
    // reads the registry again. Only while no trace scope is open.
    static void ReloadOptions();

private:
    void Begin(unsigned long level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void End();

    struct TraceTime {
        std::int64_t time;          // seconds
        unsigned short millitm;     // milliseconds within the second
    };
    static TraceTime Now();
    static long DiffTime(TraceTime start, TraceTime end);

    // Made only when the scope traces, so a scope while tracing is off
    // builds no string.
    struct Line {
        TraceTime startTime{};
        std::string message;
    };
    static std::unique_ptr<Line> CopyOf(const std::unique_ptr<Line>& line)
    {
        return line ? std::make_unique<Line>(*line) : nullptr;
    }
    std::unique_ptr<Line> m_pLine;
};
