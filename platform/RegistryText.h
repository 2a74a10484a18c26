// The registry's file format: REGEDIT4 text, one [KEY] section per key and
// one "name"=data line per value ("text", dword:0000000a, hex:01,02 and
// hex(N): for every other type).
#pragma once

#include "platform/RegistryKeyNode.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace harrow::platform {

class RegistryFormatError : public std::runtime_error {
public:
    RegistryFormatError(int line, const std::string& reason) : std::runtime_error(reason), m_line(line) {}
    int Line() const { return m_line; }

private:
    int m_line;
};

// The names of the root keys, as the file spells them.
const std::vector<std::string>& RegistryRootNames();

// A node whose subkeys are the root keys, all present. Sections at or under
// `skipped` (root name first) are read over and left out: that part of the
// registry is never taken from the file. Throws RegistryFormatError.
std::unique_ptr<RegistryKeyNode> ParseRegistryText(const std::string& text, const std::vector<std::string>& skipped);

// Every key that is not volatile, in enumeration order.
std::string FormatRegistryText(const RegistryKeyNode& roots);

}  // namespace harrow::platform
