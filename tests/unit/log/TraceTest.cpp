#include "core/log/GTrace.h"
#include "platform/Kernel.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "tests/unit/log/TempFolder.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

std::string g_BoxText;
std::string g_BoxCaption;

int RecordBox(const char* text, const char* caption, UINT)
{
    g_BoxText = text;
    g_BoxCaption = caption;
    return IDOK;
}

class Trace : public ::testing::Test {
protected:
    void SetUp() override
    {
        harrow::platform::ReloadRegistry();
        GTrace::ReloadOptions();
    }
    void TearDown() override { GTrace::ReloadOptions(); }

    // Stores the options and makes the next trace read them.
    void Configure(DWORD flags, DWORD filter)
    {
        GTraceOptions_s options;
        options.Flags = flags;
        options.Filter = filter;
        options.FileName = TraceFile();
        options.FilterFileName = "unused.flt";
        ASSERT_TRUE(GRegStoreTraceOptions(&options));
        GTrace::ReloadOptions();
    }
    std::string TraceFile() const { return m_Folder.File("trace.txt"); }
    std::string Written()
    {
        GTrace::ReloadOptions();  // closes the file
        return ReadText(TraceFile());
    }

    TempFolder m_Folder{"trace"};
};

}  // namespace

TEST_F(Trace, OptionsRoundTripThroughTheRegistryAndTracingIsOffUntilFlagged)
{
    GTraceOptions_s missing;
    EXPECT_FALSE(GRegLoadTraceOptions(&missing));
    { GTrace scope(0, "no key"); }
    Configure(0x00, 0xFFFFFFFF);
    { GTrace scope(0, "no flag"); }
    EXPECT_FALSE(std::filesystem::exists(TraceFile()));

    Configure(0x33, 0x20400);
    GTraceOptions_s loaded;
    ASSERT_TRUE(GRegLoadTraceOptions(&loaded));
    EXPECT_EQ(loaded.Flags, 0x33u);
    EXPECT_EQ(loaded.Filter, 0x20400u);
    EXPECT_EQ(loaded.FileName, TraceFile());
    EXPECT_EQ(loaded.FilterFileName, "unused.flt");
}

TEST_F(Trace, LevelFilterAndFormatting)
{
    Configure(kGtraceFlagOn, 0x400);
    {
        GTrace scan(1, "Scan %d", 1);
        GTrace model(1024, "Model %d:%s", 3, "ok");
        GTrace always(0, "Always");
        GTrace longText(1024, "%s", std::string(2000, 'y').c_str());
    }
    EXPECT_EQ(Written(), "Model 3:ok\nAlways\n" + std::string(1023, 'y') + "\n");

    Configure(kGtraceFlagOn | kGtraceFlagLiteral, 1);
    const char* format = "Read %d blocks";
    { GTrace scope(1, format, 5); }
    EXPECT_EQ(Written(), "Read %d blocks\n");
}

TEST_F(Trace, TimingModeWritesTheDurationWhenTheScopeEnds)
{
    Configure(kGtraceFlagOn | kGtraceFlagTiming, 0x20000);
    const long scaled = static_cast<long>(harrow::platform::ScaledMilliseconds(1500));
    {
        GTrace ioctl(0x20000, "CScsiIoCtl::Issue");
        GTrace model(1024, "CHostAdapter::Scan");
        Sleep(1500);
    }
    const std::string text = Written();
    const std::string prefix = "CScsiIoCtl::Issue...";
    ASSERT_EQ(text.rfind(prefix, 0), 0u) << text;
    ASSERT_EQ(text.back(), '\n');
    const std::string number = text.substr(prefix.size(), text.size() - prefix.size() - 1);
    ASSERT_EQ(number.find_first_not_of("0123456789"), std::string::npos) << text;
    EXPECT_GE(std::stol(number), scaled);
}

TEST_F(Trace, DebuggerOutputSwitchesTracingOff)
{
    Configure(kGtraceFlagOn | kGtraceFlagDebugger, 1);
    harrow::platform::SetMessageBoxHandler(&RecordBox);
    { GTrace scope(1, "first"); }
    EXPECT_EQ(g_BoxText, "GTrace can't output to DEBUGwindow - not in DEBUG");
    EXPECT_EQ(g_BoxCaption, "GTrace");
    g_BoxText.clear();
    { GTrace scope(1, "second"); }
    harrow::platform::SetMessageBoxHandler(nullptr);
    EXPECT_EQ(g_BoxText, "");
}

TEST_F(Trace, LinesOfSeveralThreadsStayWhole)
{
    Configure(kGtraceFlagOn, 0x20000);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i) {
                GTrace scope(0x20000, "thread %d line %d %s", t, i, std::string(60, 'z').c_str());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const std::string text = Written();
    std::size_t count = 0;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1, ++count) {
        const std::string line = text.substr(start, end - start);
        int thread = -1;
        int index = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d", &thread, &index), 2) << line;
        ASSERT_EQ(line, "thread " + std::to_string(thread) + " line " + std::to_string(index) + " " +
                            std::string(60, 'z'));
    }
    EXPECT_EQ(start, text.size());
    EXPECT_EQ(count, 2000u);
}
