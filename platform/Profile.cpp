#include "platform/Profile.h"

#include "platform/HostPath.h"
#include "platform/Kernel.h"
#include "platform/OutputFile.h"
#include "platform/System.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <strings.h>
#include <unistd.h>

namespace {

using Lines = std::vector<std::string>;

std::string Trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool SameText(const std::string& a, const std::string& b) { return ::strcasecmp(a.c_str(), b.c_str()) == 0; }

Lines ReadLines(const std::string& path)
{
    Lines lines;
    std::ifstream file(path, std::ios::binary);
    for (std::string line; std::getline(file, line);) {
        if (line.ends_with('\r')) {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

// The section name of a "[name]" line.
std::optional<std::string> SectionOf(const std::string& line)
{
    const std::string text = Trimmed(line);
    if (text.size() < 2 || text.front() != '[' || text.back() != ']') {
        return std::nullopt;
    }
    return Trimmed(text.substr(1, text.size() - 2));
}

std::optional<std::pair<std::string, std::string>> EntryOf(const std::string& line)
{
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos || SectionOf(line)) {
        return std::nullopt;
    }
    return std::make_pair(Trimmed(line.substr(0, equals)), Trimmed(line.substr(equals + 1)));
}

// The lines [begin, end) of a section's body; begin is npos when it is missing.
struct SectionSpan {
    std::size_t header = std::string::npos;
    std::size_t end = 0;
};

SectionSpan FindSection(const Lines& lines, const std::string& section)
{
    SectionSpan span;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::optional<std::string> name = SectionOf(lines[i]);
        if (span.header != std::string::npos && name) {
            break;
        }
        if (span.header == std::string::npos && name && SameText(*name, section)) {
            span.header = i;
        }
        if (span.header != std::string::npos && !Trimmed(lines[i]).empty()) {
            span.end = i + 1;
        }
    }
    return span;
}

void SetEntry(Lines& lines, const std::string& section, const char* key, const char* value)
{
    SectionSpan span = FindSection(lines, section);
    if (span.header == std::string::npos) {
        if (key == nullptr || value == nullptr) {
            return;
        }
        lines.push_back("[" + section + "]");
        lines.push_back(std::string(key) + "=" + value);
        return;
    }
    if (key == nullptr) {
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(span.header),
                    lines.begin() + static_cast<std::ptrdiff_t>(span.end));
        return;
    }
    for (std::size_t i = span.header + 1; i < span.end; ++i) {
        const auto entry = EntryOf(lines[i]);
        if (entry && SameText(entry->first, Trimmed(key))) {
            if (value == nullptr) {
                lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                lines[i] = std::string(key) + "=" + value;
            }
            return;
        }
    }
    if (value != nullptr) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(span.end), std::string(key) + "=" + value);
    }
}

// Temporary file, flush, rename: a reader sees the old file or the new one.
bool ReplaceFile(const std::string& path, const Lines& lines)
{
    const std::string temporary = path + ".new";
    std::string reason;
    FILE* file = harrow::platform::OpenOutputFile(temporary, harrow::platform::OutputMode::Replace, &reason).release();
    if (file == nullptr) {
        return false;
    }
    bool written = true;
    for (const std::string& line : lines) {
        written = written && std::fprintf(file, "%s\r\n", line.c_str()) >= 0;
    }
    written = written && std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0;
    written = std::fclose(file) == 0 && written;
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool BreaksLines(const char* text) { return text != nullptr && std::strpbrk(text, "\r\n") != nullptr; }

}  // namespace

namespace harrow::platform {

std::string ProfilePath(const std::string& fileName)
{
    if (fileName.find_first_of("\\/") != std::string::npos) {
        return HostPath(fileName.c_str());
    }
    char windows[4096];
    const UINT length = GetWindowsDirectoryA(windows, sizeof windows);
    if (length == 0 || length >= sizeof windows) {
        return {};
    }
    return std::string(windows) + "/" + fileName;
}

std::vector<std::pair<std::string, std::string>> ReadProfileSection(const std::string& path,
                                                                    const std::string& section)
{
    const Lines lines = ReadLines(path);
    const SectionSpan span = FindSection(lines, section);
    std::vector<std::pair<std::string, std::string>> entries;
    for (std::size_t i = span.header + 1; span.header != std::string::npos && i < span.end; ++i) {
        if (auto entry = EntryOf(lines[i])) {
            entries.push_back(std::move(*entry));
        }
    }
    return entries;
}

}  // namespace harrow::platform

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName)
{
    if (section == nullptr || fileName == nullptr || *section == '\0' || *fileName == '\0' ||
        (key != nullptr && (*key == '\0' || std::strchr(key, '=') != nullptr)) || BreaksLines(key) ||
        BreaksLines(value) || BreaksLines(section) || std::strchr(section, ']') != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string path = harrow::platform::ProfilePath(fileName);
    if (path.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    Lines lines = ReadLines(path);
    SetEntry(lines, section, key, value);
    if (!ReplaceFile(path, lines)) {
        SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}
