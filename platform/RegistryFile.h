// The registry file on disk. Writers hold an exclusive lock on a lock file
// beside it and replace the file whole (temporary file, fsync, rename), so a
// reader always sees one complete version and a killed writer leaves the last
// one in place.
#pragma once

#include <cstdint>
#include <string>

namespace harrow::platform {

// What stat tells of one version of the file. Every change of its contents
// gives a new stamp: an edit in place moves the change time, a replacement
// is another inode. A missing file has a stamp of its own.
struct RegistryFileStamp {
    bool exists = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modified = 0;  // nanoseconds since the epoch
    std::int64_t changed = 0;

    bool operator==(const RegistryFileStamp&) const = default;
};

class RegistryFile {
public:
    explicit RegistryFile(std::string path) : m_path(std::move(path)) {}
    RegistryFile(const RegistryFile&) = delete;
    RegistryFile& operator=(const RegistryFile&) = delete;
    ~RegistryFile() { Unlock(); }

    const std::string& Path() const { return m_path; }

    // The whole file; a missing file reads as empty text. False with a
    // reason when it cannot be read or is not a regular file. The stamp is
    // taken before the text is read, so a change during the read shows as a
    // new stamp next time.
    bool Read(std::string* text, RegistryFileStamp* stamp, std::string* error) const;

    // The file's stamp now; false when stat fails for another reason than
    // a missing file.
    bool Stamp(RegistryFileStamp* stamp) const;

    // True when the file (or where its link points) is a regular file that
    // its owner made read-only: no write permission for anyone. Root could
    // still replace it; the program leaves it as its owner wants it.
    bool IsReadOnly() const;

    // Waits for the writers' lock, making the folder when needed.
    bool Lock(std::string* error);
    void Unlock();

    // Replaces the file with text; only under Lock(). Temporary files that a
    // killed writer left behind are removed first. A device node or other
    // special file is refused, never replaced.
    bool Replace(const std::string& text, std::string* error);

private:
    bool Target(std::string* target, std::string* error) const;
    static void RemoveLeftovers(const std::string& target);

    std::string m_path;
    int m_lockFd = -1;
};

}  // namespace harrow::platform
