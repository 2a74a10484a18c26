// One key of the in-memory registry: its subkeys and values, ordered by name
// without regard to case, with runs of digits compared by value so that
// "Scsi Port 2" comes before "Scsi Port 10".
#pragma once

#include "platform/Registry.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace harrow::platform {

struct RegistryNameOrder {
    bool operator()(const std::string& a, const std::string& b) const;
};

bool SameRegistryName(const std::string& a, const std::string& b);

struct RegistryValueData {
    std::string name;  // as first written
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    std::vector<std::string> comments;  // the file's comment lines above it
};

// Windows' own limit; it also bounds every walk over the tree.
constexpr std::size_t kMaxRegistryDepth = 512;

class RegistryKeyNode {
public:
    using SubkeyMap = std::map<std::string, std::unique_ptr<RegistryKeyNode>, RegistryNameOrder>;
    using ValueMap = std::map<std::string, RegistryValueData, RegistryNameOrder>;

    RegistryKeyNode(std::string name, bool isVolatile) : m_name(std::move(name)), m_volatile(isVolatile) {}

    const std::string& Name() const { return m_name; }
    // Volatile keys live only in memory and are never saved.
    bool IsVolatile() const { return m_volatile; }

    RegistryKeyNode* Find(const std::string& name) const;
    // The named subkey, made when missing; a subkey of a volatile key is volatile.
    RegistryKeyNode& Create(const std::string& name, bool isVolatile, bool* created = nullptr);
    bool Remove(const std::string& name) { return m_subkeys.erase(name) != 0; }
    std::unique_ptr<RegistryKeyNode> Detach(const std::string& name);
    void Attach(std::unique_ptr<RegistryKeyNode> child);

    const SubkeyMap& Subkeys() const { return m_subkeys; }
    const ValueMap& Values() const { return m_values; }
    ValueMap& Values() { return m_values; }

    // The file's comment lines above the key's line; on the node of the root
    // keys, the comments that end the file.
    const std::vector<std::string>& Comments() const { return m_comments; }
    std::vector<std::string>& Comments() { return m_comments; }

    std::unique_ptr<RegistryKeyNode> Clone() const;

private:
    std::string m_name;
    bool m_volatile;
    SubkeyMap m_subkeys;
    ValueMap m_values;
    std::vector<std::string> m_comments;
};

// Moves every volatile key of `from` that `to` lacks into `to`, at the same
// path, so that a fresh copy of the file keeps what was never saved.
void CarryVolatileKeys(RegistryKeyNode& from, RegistryKeyNode& to);

}  // namespace harrow::platform
