// Profile ("*.ini") files. A file name without a folder is in the Windows
// folder, as on Windows. Sections and keys match in any letter case.
#pragma once

#include "platform/WinTypes.h"

#include <string>
#include <utility>
#include <vector>

// Sets key to value in section, replacing the key's first line, or adding the
// key (and the section) at the end. A null value deletes the key, a null key
// the whole section. A key with '=' or a line break, or a value with a line
// break, would change other entries: refused with ERROR_INVALID_PARAMETER.
// The file is replaced whole, so a failed write leaves the old one.
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName);

namespace harrow::platform {

// The path a profile file name stands for.
std::string ProfilePath(const std::string& fileName);

// Every "key=value" line of a section, in file order, duplicates included.
std::vector<std::pair<std::string, std::string>> ReadProfileSection(const std::string& path,
                                                                    const std::string& section);

}  // namespace harrow::platform
