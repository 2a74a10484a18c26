#include "machine/drives/StateStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

namespace harrow::machine::drives {

struct StateStore::Shared {
    std::atomic<std::uint64_t> generation;  // bumped by every save
};

namespace {

std::runtime_error SystemError(const std::filesystem::path& path, const char* what)
{
    return std::runtime_error(path.string() + ": " + what + ": " + std::strerror(errno));
}

// A write past the process's file-size limit would end it with SIGXFSZ;
// refused beforehand, it is a write error the drive reports.
bool WithinFileSizeLimit(std::uint64_t end)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || end <= limit.rlim_cur) {
        return true;
    }
    errno = EFBIG;
    return false;
}

constexpr std::size_t kMaxStateBytes = 16 << 20;

// False for anything but a regular file of sane size.
bool ReadWhole(int fd, std::string* text)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<std::size_t>(info.st_size) > kMaxStateBytes) {
        return false;
    }
    char buffer[16384];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return got == 0;
        }
        text->append(buffer, static_cast<std::size_t>(got));
        if (text->size() > kMaxStateBytes) {
            return false;
        }
    }
}

bool WriteWhole(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// When the folder was made, so that a drive's power-on clock keeps running
// from its first start although its state is written only later; fallback
// where the file system keeps no birth time.
double FolderBirth(const std::filesystem::path& folder, double fallback)
{
    struct statx info {};
    if (::statx(AT_FDCWD, folder.c_str(), 0, STATX_BTIME, &info) != 0 || (info.stx_mask & STATX_BTIME) == 0) {
        return fallback;
    }
    return static_cast<double>(info.stx_btime.tv_sec) + info.stx_btime.tv_nsec / 1e9;
}

}  // namespace

StateStore::StateStore(const std::filesystem::path& folder, const UnitState& initial)
    : m_statePath(folder / "state.json"), m_dataPath(folder / "blocks.bin")
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        throw std::runtime_error(folder.string() + ": cannot create the state folder: " + error.message());
    }
    const auto lockPath = folder / "lock";
    m_lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (m_lockFd < 0) {
        throw SystemError(lockPath, "cannot open");
    }
    void* map = MAP_FAILED;
    ::flock(m_lockFd, LOCK_EX);
    struct stat info {};
    if (::fstat(m_lockFd, &info) == 0 &&
        (info.st_size == static_cast<off_t>(sizeof(Shared)) || ::ftruncate(m_lockFd, sizeof(Shared)) == 0)) {
        map = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED, m_lockFd, 0);
    }
    if (map != MAP_FAILED) {
        m_shared = static_cast<Shared*>(map);
    }
    ::flock(m_lockFd, LOCK_UN);
    if (map == MAP_FAILED || (!OpenData(false) && errno != ENOENT)) {
        const auto failure = SystemError(map == MAP_FAILED ? lockPath : m_dataPath, "cannot open");
        Close();
        throw failure;
    }
    // Checked, then left to the first command that touches data: a drive
    // only listed keeps no data file open, so thousands of them fit.
    if (m_dataFd >= 0) {
        ::close(m_dataFd);
        m_dataFd = -1;
    }
    try {
        Session session(*this);
        if (!m_stateFileSeen) {
            // Nothing is written until the drive changes: opening 512 drives
            // to list them then costs no state file each.
            m_state = initial;
            m_state.createdAt = FolderBirth(folder, initial.createdAt);
        }
    } catch (...) {
        Close();
        throw;
    }
}

StateStore::~StateStore() { Close(); }

void StateStore::Close()
{
    if (m_shared) {
        ::munmap(m_shared, sizeof(Shared));
        m_shared = nullptr;
    }
    if (m_dataFd >= 0) {
        ::close(m_dataFd);
        m_dataFd = -1;
    }
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
    }
    ReleaseFormatLock();
}

StateStore::Session::Session(StateStore& store) : m_store(store)
{
    m_store.Lock();
    try {
        if (m_store.m_shared->generation.load() != m_store.m_seenGeneration || m_store.m_stale) {
            m_store.Reload();
        }
    } catch (...) {
        m_store.Unlock();
        throw;
    }
}

StateStore::Session::~Session()
{
    if (m_store.m_changed) {
        try {
            m_store.Save();
            m_store.m_changed = false;
            m_store.m_saveProblem.clear();
        } catch (const std::exception& failure) {
            // The change stays in memory and the next session tries again;
            // the file keeps its last whole version meanwhile.
            if (failure.what() != m_store.m_saveProblem) {
                m_store.m_saveProblem = failure.what();
                std::fprintf(stderr, "harrow: the drive state is not saved: %s\n", failure.what());
            }
        }
    }
    m_store.Unlock();
}

void StateStore::Lock()
{
    // The kernel drops a flock with its holder, so neither a dead process nor
    // a copied lock file can keep the drive locked.
    m_threads.lock();
    while (::flock(m_lockFd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const auto failure = SystemError(m_statePath.parent_path() / "lock", "cannot lock");
            m_threads.unlock();
            throw failure;
        }
    }
}

void StateStore::Unlock()
{
    ::flock(m_lockFd, LOCK_UN);
    m_threads.unlock();
}

void StateStore::Reload()
{
    m_seenGeneration = m_shared->generation.load();
    m_stale = false;
    const int fd = ::open(m_statePath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return;  // never saved: the state in memory is the initial one
        }
        throw SystemError(m_statePath, "cannot be read");
    }
    std::string text;
    const bool read = ReadWhole(fd, &text);
    ::close(fd);
    if (!read) {
        throw std::runtime_error(m_statePath.string() + ": cannot be read: not a regular file or too large");
    }
    m_stateFileSeen = true;
    try {
        m_state = FromJson(nlohmann::json::parse(text));
        ++m_loads;
    } catch (const std::exception& e) {
        throw std::runtime_error(m_statePath.string() + ": damaged state file: " + e.what());
    }
}

void StateStore::Save()
{
    // A fresh name made exclusively: a link planted beside the file is never
    // followed, and rename replaces a link at state.json rather than its target.
    std::string temporary = m_statePath.string() + ".tmp.XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        throw SystemError(temporary, "cannot be created");
    }
    const std::string text = ToJson(m_state).dump(1);
    bool written = WriteWhole(fd, text);
    const int writeError = errno;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), m_statePath.c_str()) != 0) {
        errno = written ? errno : writeError;
        const auto failure = SystemError(temporary, "cannot be written");
        ::unlink(temporary.c_str());
        throw failure;
    }
    m_seenGeneration = m_shared->generation.fetch_add(1) + 1;
}

bool StateStore::ReadData(std::uint64_t offset, std::span<std::uint8_t> out)
{
    if (out.empty()) {
        return true;
    }
    if (offset > static_cast<std::uint64_t>(INT64_MAX) - out.size()) {
        return false;
    }
    if (!OpenData(false)) {
        if (errno != ENOENT) {
            return false;
        }
        std::memset(out.data(), 0, out.size());  // nothing written yet
        return true;
    }
    // A range without data is a hole: zeros, without the kernel filling
    // page cache for it.
    const off_t data = ::lseek(m_dataFd, static_cast<off_t>(offset), SEEK_DATA);
    if (data < 0 && errno != ENXIO) {
        return false;
    }
    std::size_t done = 0;
    if (data >= 0 && static_cast<std::uint64_t>(data) < offset + out.size()) {
        while (done < out.size()) {
            const ssize_t n = ::pread(m_dataFd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            if (n == 0) break;  // past the end: never written
            done += static_cast<std::size_t>(n);
        }
    }
    std::memset(out.data() + done, 0, out.size() - done);
    return true;
}

bool StateStore::WriteData(std::uint64_t offset, std::span<const std::uint8_t> in)
{
    if (offset > static_cast<std::uint64_t>(INT64_MAX) - in.size() || !WithinFileSizeLimit(offset + in.size()) ||
        !OpenData(true)) {
        return false;
    }
    std::size_t done = 0;
    while (done < in.size()) {
        const ssize_t n = ::pwrite(m_dataFd, in.data() + done, in.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool StateStore::ClearData()
{
    if (!OpenData(false)) {
        return errno == ENOENT;  // nothing written to clear
    }
    return ::ftruncate(m_dataFd, 0) == 0;
}

bool StateStore::HoldFormatLock()
{
    if (m_formatFd < 0) {
        m_formatFd = ::open(FormatLockPath().c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    }
    return m_formatFd >= 0 && ::flock(m_formatFd, LOCK_EX) == 0;
}

void StateStore::ReleaseFormatLock()
{
    if (m_formatFd >= 0) {
        ::close(m_formatFd);  // drops the flock
        m_formatFd = -1;
    }
}

bool StateStore::FormatLockHeld() const
{
    // A lock of our own is held on another open file; this one is new.
    const int fd = ::open(FormatLockPath().c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

std::filesystem::path StateStore::FormatLockPath() const { return m_statePath.parent_path() / "format.lock"; }

// blocks.bin is made by the first write: a drive only listed or read costs
// its folder no data file.
bool StateStore::OpenData(bool create)
{
    if (m_dataFd < 0) {
        m_dataFd = ::open(m_dataPath.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
    }
    return m_dataFd >= 0;
}

}  // namespace harrow::machine::drives
