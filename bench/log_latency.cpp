// How long a lone event waits for the log writer, and how many events a
// second the log takes from several threads.
#include "core/log/CLogFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <thread>
#include <vector>

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

void MeasureLatency(int rounds)
{
    std::vector<double> micros;
    for (int i = 0; i < rounds; ++i) {
        std::promise<void> written;
        const auto start = Clock::now();
        CLogFile::Instance()->LogEvent(new TimedEvent(&written));
        written.get_future().wait();
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(micros.begin(), micros.end());
    std::printf("lone event to writer: median %.0f us, max %.0f us over %d events\n", micros[micros.size() / 2],
                micros.back(), rounds);
}

void MeasureThroughput(const std::string& path, int threads, int perThread)
{
    CLogFile::Init(path);
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
    std::printf("%d threads x %d events queued and written: %.3f s, %.0f events/s\n", threads, perThread, seconds,
                threads * perThread / seconds);
}

}  // namespace

int main()
{
    const auto folder = std::filesystem::temp_directory_path() / ("harrow-log-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "bench.log").string();

    if (CLogFile::Init(path) != ERR_NONE) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return 1;
    }
    MeasureLatency(200);
    CLogFile::Destroy();
    MeasureThroughput(path, 4, 25000);
    std::filesystem::remove_all(folder);
    return 0;
}
