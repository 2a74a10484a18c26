#pragma once

#include <cstdio>
#include <string>

// printf into a string of the length the text needs.
template <typename... Values>
std::string Format(const char* format, Values... values)
{
    const int length = std::snprintf(nullptr, 0, format, values...);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, format, values...);
    return text;
}
