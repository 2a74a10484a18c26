#include "platform/RegistryKeyNode.h"

namespace harrow::platform {
namespace {

// ASCII only, whatever the process's locale: the order of names in the
// file must not change with the user's language settings.
char Fold(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// -1, 0 or 1 for two runs of digits; equal values with different leading
// zeros still differ (shorter first) so that only equal names are equivalent.
int CompareDigitRuns(const std::string& a, std::size_t& i, const std::string& b, std::size_t& j)
{
    std::size_t startA = i;
    std::size_t startB = j;
    while (i < a.size() && IsDigit(a[i])) ++i;
    while (j < b.size() && IsDigit(b[j])) ++j;
    std::size_t skipA = startA;
    std::size_t skipB = startB;
    while (skipA + 1 < i && a[skipA] == '0') ++skipA;
    while (skipB + 1 < j && b[skipB] == '0') ++skipB;
    std::size_t lengthA = i - skipA;
    std::size_t lengthB = j - skipB;
    if (lengthA != lengthB) {
        return lengthA < lengthB ? -1 : 1;
    }
    int digits = a.compare(skipA, lengthA, b, skipB, lengthB);
    if (digits != 0) {
        return digits < 0 ? -1 : 1;
    }
    if (i - startA != j - startB) {
        return (i - startA) < (j - startB) ? -1 : 1;
    }
    return 0;
}

int CompareNames(const std::string& a, const std::string& b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            if (int runs = CompareDigitRuns(a, i, b, j); runs != 0) {
                return runs;
            }
            continue;
        }
        char x = Fold(a[i]);
        char y = Fold(b[j]);
        if (x != y) {
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y) ? -1 : 1;
        }
        ++i;
        ++j;
    }
    if (i == a.size() && j == b.size()) {
        return 0;
    }
    return i == a.size() ? -1 : 1;
}

}  // namespace

bool RegistryNameOrder::operator()(const std::string& a, const std::string& b) const
{
    return CompareNames(a, b) < 0;
}

bool SameRegistryName(const std::string& a, const std::string& b) { return CompareNames(a, b) == 0; }

RegistryKeyNode* RegistryKeyNode::Find(const std::string& name) const
{
    auto found = m_subkeys.find(name);
    return found == m_subkeys.end() ? nullptr : found->second.get();
}

RegistryKeyNode& RegistryKeyNode::Create(const std::string& name, bool isVolatile, bool* created)
{
    auto found = m_subkeys.find(name);
    if (created != nullptr) {
        *created = found == m_subkeys.end();
    }
    if (found != m_subkeys.end()) {
        return *found->second;
    }
    auto child = std::make_unique<RegistryKeyNode>(name, isVolatile || m_volatile);
    RegistryKeyNode& result = *child;
    m_subkeys.emplace(name, std::move(child));
    return result;
}

std::unique_ptr<RegistryKeyNode> RegistryKeyNode::Detach(const std::string& name)
{
    auto found = m_subkeys.find(name);
    if (found == m_subkeys.end()) {
        return nullptr;
    }
    std::unique_ptr<RegistryKeyNode> child = std::move(found->second);
    m_subkeys.erase(found);
    return child;
}

void RegistryKeyNode::Attach(std::unique_ptr<RegistryKeyNode> child)
{
    std::string name = child->Name();
    m_subkeys[name] = std::move(child);
}

std::unique_ptr<RegistryKeyNode> RegistryKeyNode::Clone() const
{
    auto copy = std::make_unique<RegistryKeyNode>(m_name, m_volatile);
    copy->m_values = m_values;
    copy->m_comments = m_comments;
    for (const auto& [name, child] : m_subkeys) {
        copy->m_subkeys.emplace(name, child->Clone());
    }
    return copy;
}

void CarryVolatileKeys(RegistryKeyNode& from, RegistryKeyNode& to)
{
    std::vector<std::string> moving;
    for (const auto& [name, child] : from.Subkeys()) {
        if (RegistryKeyNode* counterpart = to.Find(name)) {
            CarryVolatileKeys(*child, *counterpart);
        } else if (child->IsVolatile()) {
            moving.push_back(name);
        }
    }
    for (const std::string& name : moving) {
        to.Attach(from.Detach(name));
    }
}

}  // namespace harrow::platform
