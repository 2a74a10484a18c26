#include "DriveHarness.h"
#include "machine/drives/StateStore.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <cstdint>
#include <vector>

namespace harrow::machine::drives {
namespace {

using testing::TempFolder;

UnitState Capacity(std::uint64_t blocks, std::uint32_t blockSize = 512)
{
    UnitState state;
    state.blocks = blocks;
    state.blockSize = blockSize;
    return state;
}

std::vector<std::uint8_t> Read(StateStore& store, std::uint64_t offset, std::size_t size)
{
    StateStore::Session session(store);
    std::vector<std::uint8_t> out(size, 0xEE);
    EXPECT_TRUE(store.ReadData(offset, out));
    return out;
}

bool Write(StateStore& store, std::uint64_t offset, const std::vector<std::uint8_t>& in)
{
    StateStore::Session session(store);
    return store.WriteData(offset, in);
}

TEST(StateStoreData, ReadsSeeWritesAndZerosAcrossStores)
{
    TempFolder folder;
    StateStore first(folder.Path(), Capacity(64));
    StateStore second(folder.Path(), Capacity(64));
    EXPECT_EQ(Read(first, 0, 1024), std::vector<std::uint8_t>(1024, 0));

    ASSERT_TRUE(Write(second, 512, std::vector<std::uint8_t>(512, 0xA5)));
    auto both = Read(first, 256, 1024);  // straddles written and never-written bytes
    EXPECT_EQ(std::vector<std::uint8_t>(both.begin(), both.begin() + 256), std::vector<std::uint8_t>(256, 0));
    EXPECT_EQ(std::vector<std::uint8_t>(both.begin() + 256, both.begin() + 768), std::vector<std::uint8_t>(512, 0xA5));
    EXPECT_EQ(std::vector<std::uint8_t>(both.begin() + 768, both.end()), std::vector<std::uint8_t>(256, 0));

    // The last byte of the capacity, an empty read anywhere, an offset that wraps.
    ASSERT_TRUE(Write(first, 64 * 512 - 1, {0x7E}));
    EXPECT_EQ(Read(second, 64 * 512 - 1, 1), std::vector<std::uint8_t>{0x7E});
    EXPECT_TRUE(Read(second, UINT64_MAX, 0).empty());
    StateStore::Session session(second);
    std::vector<std::uint8_t> wraps(16);
    EXPECT_FALSE(second.ReadData(UINT64_MAX - 8, wraps));
}

TEST(StateStoreData, ClearingAndResizingReachEveryStore)
{
    TempFolder folder;
    StateStore reader(folder.Path(), Capacity(1024));
    StateStore formatter(folder.Path(), Capacity(1024));
    ASSERT_TRUE(Write(formatter, 1000 * 512, std::vector<std::uint8_t>(512, 0x11)));
    EXPECT_EQ(Read(reader, 1000 * 512, 512), std::vector<std::uint8_t>(512, 0x11));

    {  // a format to fewer, larger blocks: the file shrinks under the reader
        StateStore::Session session(formatter);
        formatter.State() = Capacity(16, 4096);
        formatter.MarkChanged();
        ASSERT_TRUE(formatter.ClearData());
    }
    EXPECT_EQ(Read(reader, 0, 16 * 4096), std::vector<std::uint8_t>(16 * 4096, 0));
    EXPECT_EQ(formatter.State().blocks, 16u);
    EXPECT_EQ(reader.State().blocks, 16u);

    {  // more blocks: the old data stays, the new end reads as never written
        StateStore::Session session(formatter);
        ASSERT_TRUE(formatter.WriteData(0, std::vector<std::uint8_t>(8, 0x22)));
        formatter.State().blocks = 4096;
        formatter.MarkChanged();
    }
    EXPECT_EQ(Read(reader, 0, 8), std::vector<std::uint8_t>(8, 0x22));
    EXPECT_EQ(Read(reader, 4095 * 4096, 4096), std::vector<std::uint8_t>(4096, 0));
    ASSERT_TRUE(Write(reader, 4095 * 4096, std::vector<std::uint8_t>(4096, 0x33)));
    EXPECT_EQ(Read(formatter, 4095 * 4096, 4096), std::vector<std::uint8_t>(4096, 0x33));
}

TEST(StateStoreData, DataFileEndsAtTheLastWriteAndStaysSparse)
{
    TempFolder folder;
    constexpr std::uint64_t kBlocks = 3907029168ULL;  // 2 TB
    StateStore store(folder.Path(), Capacity(kBlocks));
    EXPECT_EQ(Read(store, (kBlocks - 1) * 512, 512), std::vector<std::uint8_t>(512, 0));
    {
        StateStore::Session session(store);
        EXPECT_TRUE(store.ClearData());
    }
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / "blocks.bin")) << "made before the first write";
    ASSERT_TRUE(Write(store, kBlocks / 2 * 512, std::vector<std::uint8_t>(512, 0x44)));
    EXPECT_EQ(Read(store, kBlocks / 2 * 512, 512), std::vector<std::uint8_t>(512, 0x44));
    EXPECT_EQ(Read(store, (kBlocks - 1) * 512, 512), std::vector<std::uint8_t>(512, 0));
    EXPECT_EQ(Read(store, kBlocks / 4 * 512, 512), std::vector<std::uint8_t>(512, 0));

    struct stat data {};
    ASSERT_EQ(stat((folder.Path() / "blocks.bin").c_str(), &data), 0);
    EXPECT_EQ(static_cast<std::uint64_t>(data.st_size), (kBlocks / 2 + 1) * 512);
    EXPECT_LE(data.st_blocks * 512, 64 * 1024);
}

// Under a file-size limit a write past it fails and the process lives on;
// SIGXFSZ keeps its default action, which would end the child.
TEST(StateStoreData, WritePastTheFileSizeLimitFailsWithoutEndingTheProcess)
{
    TempFolder folder;
    StateStore store(folder.Path(), Capacity(1 << 20));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_DFL);
        const rlimit limit{64 * 1024, 64 * 1024};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
        StateStore::Session session(store);
        if (!store.WriteData(60 * 1024, std::vector<std::uint8_t>(4096, 0x66))) _exit(11);
        if (store.WriteData(62 * 1024, std::vector<std::uint8_t>(4096, 0x77)) || errno != EFBIG) _exit(12);
        if (store.WriteData(1ULL << 30, std::vector<std::uint8_t>(512, 0x77))) _exit(13);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // The refused write left nothing behind, the good one is whole.
    EXPECT_EQ(Read(store, 60 * 1024, 4096), std::vector<std::uint8_t>(4096, 0x66));
    EXPECT_EQ(std::filesystem::file_size(folder.Path() / "blocks.bin"), 64u * 1024);
}

TEST(StateStoreData, DataWrittenEarlierWithoutACapacityFileIsKept)
{
    TempFolder folder;
    {
        StateStore store(folder.Path(), Capacity(8));
        ASSERT_TRUE(Write(store, 0, std::vector<std::uint8_t>(16, 0x55)));
    }
    std::filesystem::resize_file(folder.Path() / "blocks.bin", 16);  // a file from before sizing
    StateStore store(folder.Path(), Capacity(8));
    EXPECT_EQ(Read(store, 0, 16), std::vector<std::uint8_t>(16, 0x55));
    EXPECT_EQ(Read(store, 16, 8 * 512 - 16), std::vector<std::uint8_t>(8 * 512 - 16, 0));
}

}  // namespace
}  // namespace harrow::machine::drives
