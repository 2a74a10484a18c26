// The registry of this process: the file's keys, the volatile device map
// and the open key handles. Calls on a root key take up writes of other
// processes (the file is read again when its stamp moved); writes re-read
// the file under the writers' lock and save it whole, so concurrent writers
// of different values keep both.
#pragma once

#include "platform/Registry.h"
#include "platform/RegistryFile.h"
#include "platform/RegistryKeyNode.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace harrow::platform {

class RegistryStore {
public:
    using Reader = std::function<LSTATUS(const RegistryKeyNode& key)>;
    using Writer = std::function<LSTATUS(RegistryKeyNode& key)>;

    static RegistryStore& Instance();

    // Runs reader on the key of an open handle; needs the given access.
    LSTATUS Read(HKEY key, REGSAM need, const Reader& reader);
    // Runs writer on the key; saves the file when the saved keys changed.
    LSTATUS Write(HKEY key, REGSAM need, const Writer& writer);

    LSTATUS Open(HKEY key, LPCSTR subKey, REGSAM access, PHKEY result);
    LSTATUS Create(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result, DWORD* disposition);
    LSTATUS Close(HKEY key);

    void Reload();

    // Between these the calling thread's writes change only memory; the end
    // saves them in one replacement or drops them. Batches nest.
    LSTATUS BeginBatch();
    LSTATUS EndBatch(bool save);

private:
    struct OpenKey {
        std::vector<std::string> path;  // root name first
        REGSAM access = 0;
    };

    RegistryStore() = default;

    LSTATUS Find(HKEY key, REGSAM need, OpenKey* open);
    LSTATUS Refresh();
    bool FileUnchanged() const;
    LSTATUS Prepare(HKEY key, REGSAM need, OpenKey* open);
    void EnsureDeviceMap();
    RegistryKeyNode* Resolve(RegistryKeyNode& roots, const std::vector<std::string>& path) const;
    LSTATUS Commit(const OpenKey& open, const Writer& writer);
    void TellReadOnly();
    HKEY NewHandle(OpenKey open);

    // Recursive: a machine may read the registry while it lists its device map.
    std::recursive_mutex m_lock;
    std::unique_ptr<RegistryFile> m_file;
    std::unique_ptr<RegistryKeyNode> m_roots;  // last good copy, with the volatile keys
    std::string m_text;                        // the file text last parsed
    RegistryFileStamp m_stamp;                 // the file's stamp when m_text was read
    bool m_stampSettled = false;               // that stamp changes with any later write
    bool m_haveText = false;
    bool m_textMalformed = false;
    bool m_failing = false;                    // the last look at the file failed
    bool m_deviceMapBuilt = false;
    bool m_buildingDeviceMap = false;
    int m_batchDepth = 0;
    bool m_batchLocked = false;  // the outermost batch holds the writers' lock
    bool m_batchChanged = false;
    LSTATUS m_batchStatus = ERROR_SUCCESS;
    std::string m_lastProblem;  // each problem is told once on stderr
    std::string m_machineProblem;
    std::string m_writeProblem;
    bool m_readOnlyTold = false;
    std::map<std::uintptr_t, OpenKey> m_handles;
    std::uintptr_t m_nextHandle = 0x1000;
};

}  // namespace harrow::platform
