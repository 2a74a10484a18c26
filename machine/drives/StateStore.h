// A unit's state folder: state.json, the sparse data file blocks.bin and the
// lock file that keeps two processes from interleaving commands. The lock is
// a flock on the lock file, which the kernel frees when its holder dies.
// blocks.bin holds only what was written, at its byte offset; it is made by
// the first write and grows no further than the last one, and a range never
// written reads as zeros without touching the file's pages, so memory follows
// what a test touches.
#pragma once

#include "machine/drives/UnitState.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <span>
#include <string>

namespace harrow::machine::drives {

class StateStore {
public:
    // Loads the folder's state, or starts from initial when it has none; a
    // state is first written when it changes.
    // Throws std::runtime_error naming the file when the folder or the state
    // file cannot be used.
    StateStore(const std::filesystem::path& folder, const UnitState& initial);
    ~StateStore();
    StateStore(const StateStore&) = delete;
    StateStore& operator=(const StateStore&) = delete;

    // Holds the folder's lock for one command; on entry the state is reloaded
    // when another process has changed it.
    class Session {
    public:
        explicit Session(StateStore& store);
        ~Session();
        Session(const Session&) = delete;
        Session& operator=(const Session&) = delete;

    private:
        StateStore& m_store;
    };

    UnitState& State() { return m_state; }
    // Counts the times the state was read from its file.
    std::uint64_t Loads() const { return m_loads; }
    // Writes the state at the end of the current session; a save that fails
    // is told on stderr and tried again at the end of the next one.
    void MarkChanged() { m_changed = true; }

    // Data bytes at a byte offset; never-written bytes read as zero. Only
    // within a session.
    bool ReadData(std::uint64_t offset, std::span<std::uint8_t> out);
    bool WriteData(std::uint64_t offset, std::span<const std::uint8_t> in);
    bool ClearData();

    // A format whose initiator waits holds the folder's format lock while it
    // runs, so another process can tell a running format from one whose
    // process died: the kernel frees the lock with its holder.
    bool HoldFormatLock();
    void ReleaseFormatLock();
    bool FormatLockHeld() const;

private:
    void Close();
    void Lock();
    void Unlock();
    void Reload();
    void Save();
    bool OpenData(bool create);
    std::filesystem::path FormatLockPath() const;

    std::filesystem::path m_statePath;
    std::filesystem::path m_dataPath;
    int m_lockFd = -1;
    int m_dataFd = -1;
    int m_formatFd = -1;
    struct Shared;                 // the lock file's mapping
    Shared* m_shared = nullptr;
    std::uint64_t m_seenGeneration = 0;
    bool m_stale = true;           // reload at the next session whatever the generation
    bool m_stateFileSeen = false;  // the state came from its file
    std::uint64_t m_loads = 0;
    std::mutex m_threads;  // a flock does not keep this process's threads apart
    UnitState m_state;
    bool m_changed = false;
    std::string m_saveProblem;  // told once on stderr
};

}  // namespace harrow::machine::drives
