#include "core/types/Hexdump.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/types/StringPrintf.h"
#include "platform/OutputFile.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kMaxDumpBytes = 160;
constexpr int kBytesPerLine = 16;

std::string DumpText(const char* title, const AlignedBuffer* buf, int count)
{
    std::string text = "\n" + std::string(title != nullptr ? title : "") + "\n";
    if (buf == nullptr || buf->Ptr() == nullptr) {
        return text;
    }
    const long limit = static_cast<long>(std::min<unsigned long>(buf->Size(), kMaxDumpBytes));
    const long bytes = std::clamp<long>(count, 0, limit);
    const auto* data = static_cast<const unsigned char*>(buf->Ptr());
    for (long i = 0; i < bytes; ++i) {
        text += StringPrintf("%02X ", data[i]);
        if ((i + 1) % kBytesPerLine == 0) {
            text += "\n";
        }
    }
    return text;
}

}  // namespace

bool HexdumpToLogFile(const char*, const char*, const char* title, const AlignedBuffer* buf, int count)
{
    std::string reason;
    const harrow::platform::OutputFile file =
        harrow::platform::OpenOutputFile("mode.txt", harrow::platform::OutputMode::Append, &reason);
    if (!file) {
        return false;
    }
    const std::string text = DumpText(title, buf, count);
    return std::fwrite(text.data(), 1, text.size(), file.get()) == text.size() && std::fflush(file.get()) == 0;
}
