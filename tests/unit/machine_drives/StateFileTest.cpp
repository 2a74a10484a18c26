#include "DriveHarness.h"
#include "machine/drives/StateStore.h"
#include "support/FileText.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

using test_support::ReadText;

namespace harrow::machine::drives {
namespace {

using testing::TempFolder;

UnitState Capacity(std::uint64_t blocks)
{
    UnitState state;
    state.blocks = blocks;
    state.revision = "A1";
    return state;
}

// A state is written once it changes; this writes the first one.
void SaveOnce(const std::filesystem::path& folder)
{
    StateStore store(folder, Capacity(8));
    StateStore::Session session(store);
    store.MarkChanged();
}

// The store's constructor message for a state file holding text.
std::string Refusal(const std::filesystem::path& folder, const std::string& text)
{
    std::ofstream(folder / "state.json", std::ios::trunc) << text;
    try {
        StateStore store(folder, Capacity(8));
    } catch (const std::runtime_error& refused) {
        return refused.what();
    }
    return "<accepted>";
}

TEST(StateFile, NumbersThatDoNotFitTheirFieldAreRefusedByName)
{
    TempFolder folder;
    SaveOnce(folder.Path());
    const auto good = nlohmann::json::parse(ReadText(folder.Path() / "state.json"));
    const std::string file = (folder.Path() / "state.json").string();

    auto wide = good;
    wide["blockSize"] = 4294967808ULL;
    EXPECT_EQ(Refusal(folder.Path(), wide.dump()),
              file + ": damaged state file: blockSize: must be a whole number from 0 to 4294967295");

    auto huge = good;
    huge["selfTests"] = {{{"code", 1}, {"result", 0}, {"segment", 0}, {"hours", 1}, {"failedLba", 0},
                          {"sense", {1e308, 0, 0}}}};
    EXPECT_EQ(Refusal(folder.Path(), huge.dump()),
              file + ": damaged state file: sense[0]: must be a whole number from 0 to 255");

    auto forever = good;
    forever["running"]["duration"] = 1e308;
    EXPECT_NE(Refusal(folder.Path(), forever.dump()).find("duration: must be a number of seconds from 0 to"),
              std::string::npos);
    EXPECT_EQ(Refusal(folder.Path(), good.dump()), "<accepted>");
}

TEST(StateFile, PlantedLinksAreNeverFollowed)
{
    TempFolder folder;
    const auto victim = folder.Path() / "victim";
    std::ofstream(victim) << "precious";

    // The old fixed temporary name, planted as a link before the first save.
    const auto unit = folder.Path() / "unit";
    std::filesystem::create_directories(unit);
    std::filesystem::create_symlink(victim, unit / "state.json.tmp");
    SaveOnce(unit);
    EXPECT_EQ(ReadText(victim), "precious");
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(unit / "state.json")));

    // A state file that is a link is refused, not read through.
    std::filesystem::remove(unit / "state.json");
    std::filesystem::create_symlink(victim, unit / "state.json");
    try {
        StateStore store(unit, Capacity(8));
        ADD_FAILURE() << "a linked state file was used";
    } catch (const std::runtime_error& refused) {
        EXPECT_NE(std::string(refused.what()).find("state.json: cannot be read"), std::string::npos) << refused.what();
    }
    EXPECT_EQ(ReadText(victim), "precious");
}

TEST(StateFile, ACopiedLockFileNeverLocksTheDrive)
{
    TempFolder folder;
    const auto copy = folder.Path() / "lock.copy";
    {
        StateStore store(folder.Path(), Capacity(8));
        StateStore::Session held(store);
        std::filesystem::copy_file(folder.Path() / "lock", copy);
    }
    std::filesystem::rename(copy, folder.Path() / "lock");

    const pid_t child = ::fork();
    if (child == 0) {
        StateStore store(folder.Path(), Capacity(8));
        StateStore::Session session(store);
        ::_exit(0);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
        ::usleep(1000);
    }
    if (::waitpid(child, &status, WNOHANG) == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        FAIL() << "the restored lock file kept the drive locked";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(StateFile, ASaveThatFailsIsToldAndTriedAgain)
{
    TempFolder folder;
    StateStore store(folder.Path(), Capacity(8));
    const std::string before = ReadText(folder.Path() / "state.json");

    // A file-size limit below the changed state file's size (but above what
    // stderr's capture needs): its writes fail with EFBIG.
    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 2048;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    ::testing::internal::CaptureStderr();
    {
        StateStore::Session session(store);
        store.State().revision = std::string(4096, 'B');
        store.MarkChanged();
    }
    const std::string told = ::testing::internal::GetCapturedStderr();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_NE(told.find("harrow: the drive state is not saved: "), std::string::npos) << told;
    EXPECT_NE(told.find("File too large"), std::string::npos) << told;
    EXPECT_EQ(ReadText(folder.Path() / "state.json"), before);

    { StateStore::Session session(store); }
    StateStore reader(folder.Path(), Capacity(8));
    StateStore::Session session(reader);
    EXPECT_EQ(reader.State().revision, std::string(4096, 'B'));
}

}  // namespace
}  // namespace harrow::machine::drives
