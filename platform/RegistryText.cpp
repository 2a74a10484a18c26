#include "platform/RegistryText.h"

#include <cstdio>
#include <sstream>

namespace harrow::platform {
namespace {

constexpr const char* kHeader = "REGEDIT4";

std::string Trim(const std::string& text)
{
    std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) {
        return {};
    }
    std::size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

std::vector<std::string> SplitPath(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t slash = path.find('\\', start);
        parts.push_back(path.substr(start, slash - start));
        if (slash == std::string::npos) {
            return parts;
        }
        start = slash + 1;
    }
}

bool StartsWith(const std::vector<std::string>& path, const std::vector<std::string>& prefix)
{
    if (prefix.empty() || path.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (!SameRegistryName(path[i], prefix[i])) {
            return false;
        }
    }
    return true;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a hex number of 1 to maxDigits digits; false when there is none or
// it is longer.
bool ParseHexNumber(const std::string& text, std::size_t maxDigits, DWORD* value)
{
    if (text.empty() || text.size() > maxDigits) {
        return false;
    }
    DWORD result = 0;
    for (char c : text) {
        int digit = HexDigit(c);
        if (digit < 0) {
            return false;
        }
        result = result * 16 + static_cast<DWORD>(digit);
    }
    *value = result;
    return true;
}

class Parser {
public:
    explicit Parser(const std::vector<std::string>& skipped) : m_skipped(skipped)
    {
        m_roots = std::make_unique<RegistryKeyNode>("", false);
        for (const std::string& root : RegistryRootNames()) {
            m_roots->Create(root, false);
        }
    }

    std::unique_ptr<RegistryKeyNode> Run(const std::string& text)
    {
        std::istringstream lines(text);
        std::string raw;
        int number = 0;
        bool headerSeen = false;
        while (std::getline(lines, raw)) {
            m_line = ++number;
            std::string line = Trim(raw);
            if (line.empty()) {
                continue;
            }
            if (line[0] == ';') {
                m_comments.push_back(line);
                continue;
            }
            // Long hex data goes on over lines that end in ",\".
            while (line.ends_with(",\\") && std::getline(lines, raw)) {
                ++number;
                line.pop_back();
                line += Trim(raw);
            }
            if (!headerSeen) {
                if (line != kHeader) {
                    Fail("the first line is not \"REGEDIT4\"");
                }
                headerSeen = true;
            } else if (line[0] == '[') {
                Section(line);
            } else {
                Value(line);
            }
        }
        m_roots->Comments() = std::move(m_comments);
        return std::move(m_roots);
    }

private:
    [[noreturn]] void Fail(const std::string& reason) const { throw RegistryFormatError(m_line, reason); }

    void TakeComments(std::vector<std::string>& into)
    {
        into.insert(into.end(), m_comments.begin(), m_comments.end());
        m_comments.clear();
    }

    void Section(const std::string& line)
    {
        if (line.size() < 3 || line.back() != ']') {
            Fail("a key line must be [KEY]");
        }
        if (line[1] == '-') {
            Fail("a stored registry cannot delete keys");
        }
        std::vector<std::string> path = SplitPath(line.substr(1, line.size() - 2));
        for (const std::string& part : path) {
            if (part.empty()) {
                Fail("the key name has an empty part");
            }
        }
        if (path.size() > kMaxRegistryDepth + 1) {
            Fail("the key is more than " + std::to_string(kMaxRegistryDepth) + " levels deep");
        }
        RegistryKeyNode* root = m_roots->Find(path[0]);
        if (root == nullptr) {
            Fail("unknown root key \"" + path[0] + "\"");
        }
        m_key = nullptr;
        if (StartsWith(path, m_skipped)) {
            m_skipping = true;
            m_comments.clear();
            return;
        }
        m_skipping = false;
        m_key = root;
        for (std::size_t i = 1; i < path.size(); ++i) {
            m_key = &m_key->Create(path[i], false);
        }
        TakeComments(m_key->Comments());
    }

    void Value(const std::string& line)
    {
        if (m_key == nullptr && !m_skipping) {
            Fail("a value comes before any [KEY] line");
        }
        std::size_t position = 0;
        std::string name;
        if (line[0] == '@') {
            position = 1;
        } else if (line[0] == '"') {
            name = QuotedString(line, position);
        } else {
            Fail("a value line must start with \"NAME\" or @");
        }
        if (position >= line.size() || line[position] != '=') {
            Fail("the value name is not followed by =");
        }
        RegistryValueData value = Data(line.substr(position + 1));
        if (m_skipping) {
            m_comments.clear();
            return;
        }
        value.name = name;
        TakeComments(value.comments);
        m_key->Values()[name] = std::move(value);
    }

    // Reads "..." from position (at the opening quote); leaves position just
    // past the closing quote.
    std::string QuotedString(const std::string& line, std::size_t& position) const
    {
        std::string text;
        for (std::size_t i = position + 1; i < line.size(); ++i) {
            char c = line[i];
            if (c == '"') {
                position = i + 1;
                return text;
            }
            if (c == '\\') {
                if (i + 1 >= line.size() || (line[i + 1] != '\\' && line[i + 1] != '"')) {
                    Fail("a string holds a backslash that is not \\\\ or \\\"");
                }
                c = line[++i];
            }
            text += c;
        }
        Fail("a string has no closing quote");
    }

    RegistryValueData Data(const std::string& data) const
    {
        RegistryValueData value;
        if (data.starts_with('"')) {
            std::size_t position = 0;
            std::string text = QuotedString(data, position);
            if (position != data.size()) {
                Fail("text follows the closing quote");
            }
            value.type = REG_SZ;
            value.data.assign(text.begin(), text.end());
            value.data.push_back(0);
        } else if (data.starts_with("dword:")) {
            DWORD number = 0;
            if (!ParseHexNumber(data.substr(6), 8, &number)) {
                Fail("dword: needs up to 8 hex digits");
            }
            value.type = REG_DWORD;
            for (int shift = 0; shift < 32; shift += 8) {
                value.data.push_back(static_cast<BYTE>(number >> shift));
            }
        } else if (data.starts_with("hex")) {
            Hex(data, value);
        } else {
            Fail("the value data is not \"text\", dword: or hex:");
        }
        return value;
    }

    void Hex(const std::string& data, RegistryValueData& value) const
    {
        std::size_t colon = data.find(':');
        if (colon == std::string::npos) {
            Fail("hex data needs a colon");
        }
        std::string kind = data.substr(0, colon);
        value.type = REG_BINARY;
        if (kind != "hex") {
            if (kind.size() < 6 || !kind.starts_with("hex(") || kind.back() != ')' ||
                !ParseHexNumber(kind.substr(4, kind.size() - 5), 8, &value.type)) {
                Fail("hex data must start with hex: or hex(TYPE):");
            }
        }
        std::string bytes = Trim(data.substr(colon + 1));
        if (bytes.empty()) {
            return;
        }
        std::istringstream items(bytes);
        std::string item;
        while (std::getline(items, item, ',')) {
            DWORD byte = 0;
            if (!ParseHexNumber(Trim(item), 2, &byte)) {
                Fail("hex data must be bytes like 0a,ff");
            }
            value.data.push_back(static_cast<BYTE>(byte));
        }
        if (bytes.back() == ',') {
            Fail("hex data ends with a comma");
        }
    }

    const std::vector<std::string>& m_skipped;
    std::unique_ptr<RegistryKeyNode> m_roots;
    RegistryKeyNode* m_key = nullptr;
    std::vector<std::string> m_comments;  // waiting for the line they stand above
    bool m_skipping = false;
    int m_line = 0;
};

std::string Quote(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + '"';
}

// Text that a "..." line carries back byte for byte: one terminating zero,
// no other zero and no control characters.
bool IsPlainString(const std::vector<BYTE>& data)
{
    if (data.empty() || data.back() != 0) {
        return false;
    }
    for (std::size_t i = 0; i + 1 < data.size(); ++i) {
        if (data[i] < 0x20 || data[i] == 0x7F) {
            return false;
        }
    }
    return true;
}

std::string FormatData(const RegistryValueData& value)
{
    char buffer[16];
    if (value.type == REG_SZ && IsPlainString(value.data)) {
        return Quote(std::string(value.data.begin(), value.data.end() - 1));
    }
    if (value.type == REG_DWORD && value.data.size() == 4) {
        DWORD number = value.data[0] | value.data[1] << 8 | value.data[2] << 16 | static_cast<DWORD>(value.data[3]) << 24;
        std::snprintf(buffer, sizeof buffer, "%08x", number);
        return std::string("dword:") + buffer;
    }
    std::string text;
    if (value.type == REG_BINARY) {
        text = "hex:";
    } else {
        std::snprintf(buffer, sizeof buffer, "%x", value.type);
        text = std::string("hex(") + buffer + "):";
    }
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, i == 0 ? "%02x" : ",%02x", value.data[i]);
        text += buffer;
    }
    return text;
}

void AppendLines(const std::vector<std::string>& lines, std::string& out)
{
    for (const std::string& line : lines) {
        out += line + "\n";
    }
}

void FormatKey(const RegistryKeyNode& key, const std::string& path, bool isRoot, std::string& out)
{
    if (key.IsVolatile()) {
        return;
    }
    if (!isRoot || !key.Values().empty() || !key.Comments().empty()) {
        out += "\n";
        AppendLines(key.Comments(), out);
        out += "[" + path + "]\n";
        for (const auto& [name, value] : key.Values()) {
            AppendLines(value.comments, out);
            out += (name.empty() ? std::string("@") : Quote(value.name)) + "=" + FormatData(value) + "\n";
        }
    }
    for (const auto& [name, child] : key.Subkeys()) {
        FormatKey(*child, path + "\\" + child->Name(), false, out);
    }
}

}  // namespace

const std::vector<std::string>& RegistryRootNames()
{
    static const std::vector<std::string> names = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                                   "HKEY_USERS"};
    return names;
}

std::unique_ptr<RegistryKeyNode> ParseRegistryText(const std::string& text, const std::vector<std::string>& skipped)
{
    return Parser(skipped).Run(text);
}

std::string FormatRegistryText(const RegistryKeyNode& roots)
{
    std::string out = std::string(kHeader) + "\n";
    for (const auto& [name, root] : roots.Subkeys()) {
        FormatKey(*root, root->Name(), true, out);
    }
    if (!roots.Comments().empty()) {
        out += "\n";
        AppendLines(roots.Comments(), out);
    }
    return out;
}

}  // namespace harrow::platform
