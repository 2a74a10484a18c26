// Reads arbitrary text as sensedata.def and decodes sense bytes taken from
// the input's first 18 bytes with it.
#include "frontend/CommandRoutine.h"
#include "frontend/SenseDecoder.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

// The decoder's file-less entry point reads the command routine's last sense;
// the target has no command routine, so it gets an empty one.
const std::array<std::uint8_t, kRecordSenseBytes>& LastSense()
{
    static const std::array<std::uint8_t, kRecordSenseBytes> none{};
    return none;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    if (size < 18) {
        return 0;
    }
    static const std::string table = "fuzz-sensedata-" + std::to_string(::getpid()) + ".def";
    if (std::FILE* file = std::fopen(table.c_str(), "wb")) {
        std::fwrite(input + 18, 1, size - 18, file);
        std::fclose(file);
    }
    const SenseTexts texts = DecodeSenseBytes(input, table.c_str());
    if (texts.key.size() + texts.asc.size() + texts.ascq.size() > (1u << 20)) {
        std::abort();
    }
    return 0;
}
