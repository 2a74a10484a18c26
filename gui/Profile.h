#pragma once

#include <string>

// The program's profile values, kept under
// HKEY_CURRENT_USER\Software\Kestrel\Harrow Viraradiza\<section>.
namespace profile {

unsigned long ReadNumber(const std::string& section, const std::string& entry, unsigned long fallback);
// False when the registry refused the write.
bool WriteNumber(const std::string& section, const std::string& entry, unsigned long value);

}  // namespace profile
