#pragma once

#include "platform/WinTypes.h"

#include <string>

// Numbered user-interface strings of the program.
enum ResourceString : unsigned {
    RES_COPYRIGHT = 491,
    RES_LOG_FILE_NAME = 591,
    RES_NO_COMMAND = 641,
    RES_PRODUCT_NAME = 4014,
};

// The resource library "RESDLL.DLL", loaded for the program's lifetime.
class ResourceLibrary {
public:
    ResourceLibrary() = default;
    ResourceLibrary(const ResourceLibrary&) = delete;
    ResourceLibrary& operator=(const ResourceLibrary&) = delete;
    ~ResourceLibrary();

    bool Load();
    // Empty when the string is missing.
    std::string String(unsigned id) const;

private:
    HMODULE m_module = nullptr;
};
