// File names as the Windows design writes them, made into Linux paths.
#pragma once

#include <string>

namespace harrow::platform {

// Backslashes separate folders, as they do on Windows.
inline std::string HostPath(const char* name)
{
    std::string path(name);
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    return path;
}

}  // namespace harrow::platform
