// The demonstration machine used when HARROW_MACHINE is unset or "builtin".
#pragma once

#include <string>

namespace harrow::machine {

// Its description, in the machine file format.
const std::string& BuiltinMachineText();

}  // namespace harrow::machine
