// What every benchmark prints for a target, and how it ends: one line per
// target, "<what>: <figure> (target <op> <bound>) MET|MISSED", which
// bench/run-all.sh gathers into its table, and a non-zero exit status once
// any target is missed. Timing figures are processor time, not wall time: the
// machine is shared, and another process's load must not decide a verdict.
#pragma once

#include <sys/resource.h>
#include <time.h>

#include <cstdio>

namespace harrow::bench {

enum class Bound { AtMost, AtLeast };

class Verdicts {
public:
    bool Check(const char* what, double figure, Bound bound, double target, const char* unit = "")
    {
        const bool met = bound == Bound::AtMost ? figure <= target : figure >= target;
        std::printf("%s: %.2f%s (target %s %.2f%s) %s\n", what, figure, unit, bound == Bound::AtMost ? "<=" : ">=",
                    target, unit, met ? "MET" : "MISSED");
        std::fflush(stdout);
        m_Missed = m_Missed || !met;
        return met;
    }

    // A figure that could not be measured is a miss, said as such.
    void NotMeasured(const char* what, const char* why)
    {
        std::printf("%s: not measured, %s (target not met) MISSED\n", what, why);
        std::fflush(stdout);
        m_Missed = true;
    }

    int ExitStatus() const { return m_Missed ? 1 : 0; }

private:
    bool m_Missed = false;
};

inline double Seconds(const timespec& at)
{
    return static_cast<double>(at.tv_sec) + static_cast<double>(at.tv_nsec) * 1e-9;
}

// This thread's processor time.
inline double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return Seconds(now);
}

// The whole process's processor time, every thread.
inline double ProcessCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return Seconds(now);
}

// User and system time of a child reaped by wait4.
inline double CpuSeconds(const rusage& usage)
{
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

}  // namespace harrow::bench
