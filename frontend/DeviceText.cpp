#include "frontend/DeviceText.h"

#include <algorithm>
#include <cstring>

std::string DeviceText(const std::uint8_t* bytes, std::size_t count)
{
    const auto* begin = reinterpret_cast<const char*>(bytes);
    std::string text(begin, strnlen(begin, count));
    std::replace_if(text.begin(), text.end(), [](char c) { return c < 0x20 || c > 0x7E; }, ' ');
    return text;
}
