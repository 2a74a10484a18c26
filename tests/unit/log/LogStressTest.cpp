#include "core/log/CLogFile.h"
#include "support/BoundedWait.h"
#include "tests/unit/log/TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <thread>
#include <vector>

namespace {

std::string LineText(char batch, int thread, int index)
{
    return std::string(1, batch) + " " + std::to_string(thread) + " " + std::to_string(index) + " " +
           std::string(40, 'x');
}

bool IsEventLine(const std::string& line)
{
    char batch = 0;
    int thread = -1;
    int index = -1;
    return std::sscanf(line.c_str(), "%c %d %d", &batch, &thread, &index) == 3 &&
           line == LineText(batch, thread, index);
}

class LineEvent : public CEventBase {
public:
    LineEvent(char batch, int thread, int index) : CEventBase(ERR_NONE), m_Text(LineText(batch, thread, index) + "\n")
    {
    }
    std::string toString() override { return m_Text; }

private:
    std::string m_Text;
};

constexpr int kThreads = 4;
constexpr int kEventsPerThread = 2000;
constexpr int kFinalPerThread = 500;

const std::vector<std::string> kDeviceBlock = {
    "Device: 9:9:9", "Device type: 0",      "Vendor: V", "Model: M", "Serial Number: S  ", "Firmware version: F",
    std::string(45, '-'), "",
};

void LogBatch(char batch, int events)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([=] {
            for (int i = 0; i < events; ++i) {
                CLogFile::Instance()->LogEvent(new LineEvent(batch, t, i));
            }
        });
    }
    test_support::JoinWithin(threads, std::string("logging threads of batch ") + batch);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "the file ends inside a line";
    return lines;
}

// Every line is a whole event line or part of a whole device block; returns the event lines.
std::vector<std::string> EventLines(const std::string& text)
{
    const std::vector<std::string> lines = Lines(text);
    std::vector<std::string> events;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == kDeviceBlock[0]) {
            for (std::size_t k = 1; k < kDeviceBlock.size(); ++k) {
                EXPECT_TRUE(i + k < lines.size() && lines[i + k] == kDeviceBlock[k]) << "torn device block";
            }
            i += kDeviceBlock.size() - 1;
            continue;
        }
        EXPECT_TRUE(IsEventLine(lines[i])) << "torn line: " << lines[i];
        events.push_back(lines[i]);
    }
    return events;
}

}  // namespace

TEST(LogFileStress, ConcurrentLoggingChangingAndClearingLosesAndTearsNothing)
{
    TempFolder folder("log-stress");
    const std::string names[2] = {folder.File("a.log"), folder.File("b.log")};
    ASSERT_EQ(CLogFile::Init(names[0]), ERR_NONE);
    CLogFile* log = CLogFile::Instance();

    std::atomic<bool> loggersDone{false};
    std::vector<std::thread> helpers;
    helpers.emplace_back([&] {
        for (int round = 0; !loggersDone; ++round) {
            log->ChangeLogFile(names[round % 2]);
            if (round % 3 == 0) {
                log->ClearLogFile();
            }
        }
    });
    helpers.emplace_back([&] {
        for (int i = 0; i < 200; ++i) {
            log->LogDeviceInfo(CDevAddress(9, 9, 9, -1, -1, -1), DEV_DISK, "V", "M", "S", "F");
        }
    });
    LogBatch('E', kEventsPerThread);
    loggersDone = true;
    test_support::JoinWithin(helpers, "the log file changer and the device describer");

    log->ClearLogFile();
    const std::string finalFile = log->GetLogFileName();
    LogBatch('F', kFinalPerThread);
    test_support::FinishWithin("the log writer's shutdown", [] { CLogFile::Destroy(); });

    std::set<std::string> seen;
    std::map<int, std::vector<int>> finalOrder;
    for (const std::string& name : names) {
        for (const std::string& line : EventLines(ReadText(name))) {
            EXPECT_TRUE(seen.insert(line).second) << "written twice: " << line;
            if (name == finalFile && line[0] == 'F') {
                int thread = 0, index = 0;
                std::sscanf(line.c_str(), "F %d %d", &thread, &index);
                finalOrder[thread].push_back(index);
            }
        }
    }
    ASSERT_EQ(finalOrder.size(), static_cast<std::size_t>(kThreads));
    for (const auto& [thread, indexes] : finalOrder) {
        ASSERT_EQ(indexes.size(), static_cast<std::size_t>(kFinalPerThread)) << "thread " << thread;
        for (int i = 0; i < kFinalPerThread; ++i) {
            ASSERT_EQ(indexes[i], i) << "thread " << thread;
        }
    }
}
