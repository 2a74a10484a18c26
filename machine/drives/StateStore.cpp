#include "machine/drives/StateStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace harrow::machine::drives {
namespace {

std::runtime_error SystemError(const std::filesystem::path& path, const char* what)
{
    return std::runtime_error(path.string() + ": " + what + ": " + std::strerror(errno));
}

}  // namespace

StateStore::StateStore(const std::filesystem::path& folder, const UnitState& initial)
    : m_statePath(folder / "state.json")
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        throw std::runtime_error(folder.string() + ": cannot create the state folder: " + error.message());
    }
    const auto lockPath = folder / "lock";
    m_lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_lockFd < 0) {
        throw SystemError(lockPath, "cannot open");
    }
    void* map = MAP_FAILED;
    if (::ftruncate(m_lockFd, sizeof(std::uint64_t)) == 0) {
        map = ::mmap(nullptr, sizeof(std::uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, m_lockFd, 0);
    }
    const auto dataPath = folder / "blocks.bin";
    if (map != MAP_FAILED) {
        m_generation = static_cast<std::atomic<std::uint64_t>*>(map);
        m_dataFd = ::open(dataPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    }
    if (m_dataFd < 0) {
        const auto failure = SystemError(map == MAP_FAILED ? lockPath : dataPath, "cannot open");
        Close();
        throw failure;
    }
    try {
        Session session(*this);
        if (!std::filesystem::exists(m_statePath)) {
            m_state = initial;
            m_changed = true;
        }
    } catch (...) {
        Close();
        throw;
    }
}

StateStore::~StateStore() { Close(); }

void StateStore::Close()
{
    if (m_generation) {
        ::munmap(m_generation, sizeof(std::uint64_t));
        m_generation = nullptr;
    }
    if (m_dataFd >= 0) {
        ::close(m_dataFd);
        m_dataFd = -1;
    }
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
    }
}

StateStore::Session::Session(StateStore& store) : m_store(store)
{
    m_store.Lock();
    try {
        if (m_store.m_generation->load() != m_store.m_seenGeneration || m_store.m_seenGeneration == 0) {
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
        } catch (...) {
            // The next session reloads the last good file; a lost update is
            // better than a half-written one.
        }
        m_store.m_changed = false;
    }
    m_store.Unlock();
}

void StateStore::Lock()
{
    while (::flock(m_lockFd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

void StateStore::Unlock() { ::flock(m_lockFd, LOCK_UN); }

void StateStore::Reload()
{
    m_seenGeneration = m_generation->load();
    std::ifstream file(m_statePath);
    if (!file) {
        if (std::filesystem::exists(m_statePath)) {
            throw std::runtime_error(m_statePath.string() + ": cannot be read");
        }
        return;  // a fresh folder: the constructor fills it
    }
    std::stringstream text;
    text << file.rdbuf();
    try {
        m_state = FromJson(nlohmann::json::parse(text.str()));
    } catch (const std::exception& e) {
        throw std::runtime_error(m_statePath.string() + ": damaged state file: " + e.what());
    }
}

void StateStore::Save()
{
    const auto temporary = m_statePath.string() + ".tmp";
    {
        std::ofstream file(temporary, std::ios::trunc);
        file << ToJson(m_state).dump(1);
        file.flush();
        if (!file) {
            throw std::runtime_error(temporary + ": cannot be written");
        }
    }
    std::filesystem::rename(temporary, m_statePath);
    m_seenGeneration = m_generation->fetch_add(1) + 1;
}

bool StateStore::ReadData(std::uint64_t offset, std::span<std::uint8_t> out) const
{
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(m_dataFd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            std::memset(out.data() + done, 0, out.size() - done);  // past the end: never written
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool StateStore::WriteData(std::uint64_t offset, std::span<const std::uint8_t> in)
{
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

bool StateStore::ClearData() { return ::ftruncate(m_dataFd, 0) == 0; }

}  // namespace harrow::machine::drives
