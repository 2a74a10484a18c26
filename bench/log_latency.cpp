// How long a lone event waits for the log writer, against a bare writer in the
// same run (a waiting thread woken to append one line to a file and flush it:
// the least any writer thread can take), and the processor time an event costs
// when several threads log.
#include "bench/BenchVerdict.h"
#include "core/log/CLogFile.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <filesystem>
#include <future>
#include <thread>
#include <utility>
#include <vector>

#include <sched.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

class TimedEvent : public CEventBase {
public:
    explicit TimedEvent(std::promise<void>* written) : CEventBase(ERR_NONE), m_Written(written) {}
    std::string toString() override
    {
        if (m_Written != nullptr) {
            m_Written->set_value();
        }
        return "benchmark event\n";
    }

private:
    std::promise<void>* m_Written;
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double MicrosSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// A thread that waits on a condition, appends one line to a file and answers
// through a promise: the least any log writer thread can take.
class Waiter {
public:
    explicit Waiter(const std::string& path)
        : m_File(std::fopen(path.c_str(), "a")),
          m_Thread([this] {
              std::unique_lock guard(m_Lock);
              while (true) {
                  m_Wake.wait(guard, [this] { return m_Pending != nullptr || m_Stop; });
                  if (m_Stop) return;
                  if (m_File != nullptr) {
                      std::fputs("benchmark event\n", m_File);
                      std::fflush(m_File);
                  }
                  std::exchange(m_Pending, nullptr)->set_value();
              }
          })
    {
    }
    ~Waiter()
    {
        {
            std::lock_guard guard(m_Lock);
            m_Stop = true;
        }
        m_Wake.notify_one();
        m_Thread.join();
        if (m_File != nullptr) {
            std::fclose(m_File);
        }
    }

    void HandOver(std::promise<void>* answer)
    {
        {
            std::lock_guard guard(m_Lock);
            m_Pending = answer;
        }
        m_Wake.notify_one();
    }

private:
    std::mutex m_Lock;
    std::condition_variable m_Wake;
    std::promise<void>* m_Pending = nullptr;
    bool m_Stop = false;
    std::FILE* m_File;
    std::thread m_Thread;
};

// Median microseconds from handing an event to the log to its text being
// taken, and of a bare hand-over; taken alternately, so both see one load.
std::pair<double, double> Latencies(int rounds, const std::string& baselinePath)
{
    Waiter waiter(baselinePath);
    std::vector<double> logged;
    std::vector<double> handedOver;
    for (int i = 0; i < rounds; ++i) {
        std::promise<void> written;
        auto start = Clock::now();
        CLogFile::Instance()->LogEvent(new TimedEvent(&written));
        written.get_future().wait();
        logged.push_back(MicrosSince(start));

        std::promise<void> answered;
        start = Clock::now();
        waiter.HandOver(&answered);
        answered.get_future().wait();
        handedOver.push_back(MicrosSince(start));
    }
    return {Median(logged), Median(handedOver)};
}

// Microseconds of processor time an event costs, queued by several threads and written.
double ThroughputCpu(const std::string& path, int threads, int perThread)
{
    CLogFile::Init(path);
    const double cpuStart = harrow::bench::ProcessCpuSeconds();
    const auto start = Clock::now();
    std::vector<std::thread> loggers;
    for (int t = 0; t < threads; ++t) {
        loggers.emplace_back([perThread] {
            for (int i = 0; i < perThread; ++i) {
                CLogFile::Instance()->LogEvent(new TimedEvent(nullptr));
            }
        });
    }
    for (auto& logger : loggers) {
        logger.join();
    }
    CLogFile::Destroy();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = harrow::bench::ProcessCpuSeconds() - cpuStart;
    std::printf("%d threads x %d events queued and written: %.3f s, %.0f events/s\n", threads, perThread, seconds,
                threads * perThread / seconds);
    return cpu / (threads * perThread) * 1e6;
}

}  // namespace

// Every thread of the run shares one processor: a wake-up across processors
// costs what the machine's scheduler decides (here 8 or 45 us by where the
// woken thread last ran), which would time the placement, not the writers.
void StayOnThisProcessor()
{
    const int processor = ::sched_getcpu();
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(processor, &set);
    if (processor < 0 || ::sched_setaffinity(0, sizeof set, &set) != 0) {
        std::perror("sched_setaffinity");
    }
}

int main()
{
    StayOnThisProcessor();
    const auto folder = std::filesystem::temp_directory_path() / ("harrow-log-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "bench.log").string();

    if (CLogFile::Init(path) != ERR_NONE) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return 1;
    }
    constexpr int kRounds = 200;
    const auto [logged, handOver] = Latencies(kRounds, (folder / "baseline.log").string());
    CLogFile::Destroy();
    std::printf("lone event to writer: median %.0f us; bare writer thread: median %.0f us\n", logged, handOver);
    const double perEvent = ThroughputCpu(path, 4, 25000);
    std::filesystem::remove_all(folder);
    // The writer wakes as any waiting thread does, then takes the event from
    // the queue under its semaphore and writes one line: twice a bare
    // hand-over leaves room for that and for nothing more.
    harrow::bench::Verdicts verdicts;
    verdicts.Check("lone event to writer / bare writer thread, medians", logged / std::max(handOver, 1.0),
                   harrow::bench::Bound::AtMost, 2.0);
    // Every command of a test may log a line: a few microseconds keep the log
    // far below the cost of the command itself.
    verdicts.Check("CPU an event, 4 threads logging", perEvent, harrow::bench::Bound::AtMost, 10.0, " us");
    return verdicts.ExitStatus();
}
