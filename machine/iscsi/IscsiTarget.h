// Where one iSCSI target lives, as HARROW_MACHINE names it:
// "iscsi://HOST[:PORT]/IQN", several separated by blanks.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace harrow::machine {

constexpr std::uint16_t kIscsiDefaultPort = 3260;

struct IscsiTarget {
    std::string host;  // a name or address; IPv6 without its brackets
    std::uint16_t port = kIscsiDefaultPort;
    std::string iqn;

    // "host:port" as libiscsi takes it ("[::1]:3260" for IPv6).
    std::string Portal() const;
    // "iscsi://host:port/iqn", for messages.
    std::string Url() const;
};

// A machine text that names no usable target: what is wrong and with which word.
class IscsiSpecError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws IscsiSpecError for an empty text or any malformed word.
std::vector<IscsiTarget> ParseIscsiTargets(const std::string& text);

}  // namespace harrow::machine
