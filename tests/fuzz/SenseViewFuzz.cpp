// Reads every field of arbitrary sense bytes, in a buffer exactly as long as
// the input, so that AddressSanitizer sees any read past the length given.
#include "core/types/SenseView.h"

#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    const auto copy = std::make_unique<std::uint8_t[]>(size);
    std::copy(input, input + size, copy.get());
    const SenseView view(copy.get(), size);
    unsigned sum = static_cast<unsigned>(view.ResponseCode() + view.Key() + view.Asc() + view.Ascq() + view.Fru() +
                                         view.KeyByte());
    sum += view.Known() + view.Descriptor() + view.Current() + view.Deferred() + view.Filemark() +
           view.EndOfMedium() + view.IncorrectLength() + view.InformationValid() + view.SenseKeySpecificValid();
    sum += static_cast<unsigned>(view.Information()) + view.Progress().value_or(0);
    for (int type = 0; type < 256; type += 17) {
        const SenseView::Span span = view.FindDescriptor(type);
        if (span.bytes != nullptr && (span.bytes < copy.get() || span.bytes + span.length > copy.get() + size)) {
            std::abort();
        }
    }
    // The key and codes are what their bytes hold, never more.
    if (view.Key() > 0x0F || view.KeyByte() > 0xFF) {
        std::abort();
    }
    volatile unsigned kept = sum;  // every read stays, whatever the optimizer sees
    (void)kept;
    return 0;
}
