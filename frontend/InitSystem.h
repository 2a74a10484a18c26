#pragma once

#include <string>

// Sets up the computer system for the running Windows family, retrying once
// with fallback transport and buffer manager after a configuration failure.
// False when the system could not be initialised.
bool InitSystem(const std::string& productName);
