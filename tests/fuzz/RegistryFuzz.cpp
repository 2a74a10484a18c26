// Reads arbitrary text as a registry file. Whatever is accepted must write
// back to text that reads as the same keys, comments included.
#include "platform/RegistryText.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    using namespace harrow::platform;
    static const std::vector<std::string> skipped = {"HKEY_LOCAL_MACHINE", "HARDWARE", "DEVICEMAP", "Scsi"};
    const std::string text(reinterpret_cast<const char*>(input), size);
    std::string written;
    try {
        written = FormatRegistryText(*ParseRegistryText(text, skipped));
    } catch (const RegistryFormatError&) {
        return 0;
    }
    try {
        if (FormatRegistryText(*ParseRegistryText(written, skipped)) != written) {
            std::abort();
        }
    } catch (const RegistryFormatError&) {
        std::abort();  // what the registry writes it must read
    }
    return 0;
}
