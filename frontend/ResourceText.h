#pragma once

#include "platform/WinTypes.h"

#include <string>

// Empty when the module lacks the string.
std::string LoadResourceText(HMODULE module, unsigned id);

// The program's resource module, whose numbered texts the shared routines use.
void SetResourceModule(HMODULE module);
std::string ResourceText(unsigned id);
