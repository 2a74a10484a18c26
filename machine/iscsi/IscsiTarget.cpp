#include "machine/iscsi/IscsiTarget.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace harrow::machine {
namespace {

constexpr std::string_view kScheme = "iscsi://";

bool StartsWithScheme(const std::string& word)
{
    if (word.size() < kScheme.size()) {
        return false;
    }
    return std::equal(kScheme.begin(), kScheme.end(), word.begin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

[[noreturn]] void Refuse(const std::string& word, const std::string& why)
{
    throw IscsiSpecError("HARROW_MACHINE: \"" + word + "\": " + why +
                         " (expected iscsi://HOST[:PORT]/IQN)");
}

std::uint16_t ParsePort(const std::string& word, const std::string& digits)
{
    const bool allDigits = !digits.empty() && digits.size() <= 5 &&
                           std::all_of(digits.begin(), digits.end(),
                                       [](unsigned char c) { return std::isdigit(c) != 0; });
    const long value = allDigits ? std::stol(digits) : 0;
    if (value < 1 || value > 65535) {
        Refuse(word, "port \"" + digits + "\" is not a number from 1 to 65535");
    }
    return static_cast<std::uint16_t>(value);
}

// "host", "host:port", "[v6]" or "[v6]:port".
void ParseAuthority(const std::string& word, const std::string& authority, IscsiTarget* target)
{
    std::string rest;
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        if (close == std::string::npos) {
            Refuse(word, "unclosed '[' in the host");
        }
        target->host = authority.substr(1, close - 1);
        rest = authority.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') {
            Refuse(word, "unexpected text after the host");
        }
    } else {
        const auto colon = authority.find(':');
        target->host = authority.substr(0, colon);
        rest = colon == std::string::npos ? "" : authority.substr(colon);
    }
    if (target->host.empty()) {
        Refuse(word, "no host");
    }
    if (!rest.empty()) {
        target->port = ParsePort(word, rest.substr(1));
    }
}

IscsiTarget ParseOne(const std::string& word)
{
    if (!StartsWithScheme(word)) {
        Refuse(word, "not an iscsi:// address");
    }
    const std::string afterScheme = word.substr(kScheme.size());
    const auto slash = afterScheme.find('/');
    if (slash == std::string::npos) {
        Refuse(word, "no target name");
    }
    IscsiTarget target;
    ParseAuthority(word, afterScheme.substr(0, slash), &target);
    target.iqn = afterScheme.substr(slash + 1);
    // A trailing LUN ("/IQN/1") would be taken for part of the name and fail at login.
    if (target.iqn.empty() || target.iqn.find('/') != std::string::npos) {
        Refuse(word, "the target name must be one path element");
    }
    return target;
}

}  // namespace

std::string IscsiTarget::Portal() const
{
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string IscsiTarget::Url() const { return std::string(kScheme) + Portal() + "/" + iqn; }

std::vector<IscsiTarget> ParseIscsiTargets(const std::string& text)
{
    std::istringstream words(text);
    std::vector<IscsiTarget> targets;
    for (std::string word; words >> word;) {
        targets.push_back(ParseOne(word));
    }
    if (targets.empty()) {
        throw IscsiSpecError("HARROW_MACHINE: no iSCSI target given (expected iscsi://HOST[:PORT]/IQN)");
    }
    return targets;
}

}  // namespace harrow::machine
