// Parses arbitrary arguments, split at zero bytes, as HarrowCLI's command line.
#include "cli/CommandLine.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    std::vector<std::string> arguments(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (input[i] == 0) {
            arguments.emplace_back();
        } else {
            arguments.back() += static_cast<char>(input[i]);
        }
    }
    static std::FILE* quiet = std::freopen("/dev/null", "w", stdout);
    const CommandLine line = ParseArguments(arguments);
    if (quiet == nullptr || line.percent > (1 << 24) || line.percent < -(1 << 24)) {
        std::abort();
    }
    return 0;
}
