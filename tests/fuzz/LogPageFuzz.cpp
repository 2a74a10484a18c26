// Decodes arbitrary bytes as every log page the health report reads and as a
// READ DEFECT DATA reply: no decoder may read past what it was given.
#include "frontend/LogPageDecoders.h"

#include <cstdint>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    // A copy of exactly the input's size, so the sanitizer sees any read past it.
    const std::vector<std::uint8_t> bytes(input, input + size);
    const LogPageView page(bytes);
    std::size_t seen = DecodeSupportedPages(page).size();
    seen += DecodeErrorCounters(page).uncorrected.value_or(0) & 1;
    seen += DecodeNonMediumErrors(page).value_or(0) & 1;
    seen += static_cast<std::size_t>(DecodeTemperatures(page).current.value_or(0));
    seen += DecodeStartStop(page).manufactured.value_or("").size();
    seen += DecodeSelfTests(page).size();
    const BackgroundScan scan = DecodeBackgroundScan(page);
    seen += scan.entries.size() + (scan.status ? 1 : 0);
    for (const ProtocolPort& port : DecodeProtocolPorts(page)) {
        seen += port.phys.size();
    }
    seen += DecodeInformationalExceptions(page).asc.value_or(0);
    seen += GrownDefectCount(bytes, size % 2 == 0).value_or(0) & 1;
    return seen == static_cast<std::size_t>(-1) ? 1 : 0;
}
