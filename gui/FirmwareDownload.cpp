#include "gui/FirmwareDownload.h"

#include "frontend/CommandRoutine.h"
#include "frontend/DeviceQueries.h"
#include "frontend/TextFormat.h"
#include "gui/GuiLog.h"
#include "gui/SenseCodes.h"
#include "platform/Kernel.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

constexpr std::size_t kTransferBytes = 64 * 1024;
constexpr std::size_t kSegmentBytes = 8192;
constexpr std::size_t kChunkBytes = 32768;
// Mode 5 numbers its chunks in one CDB byte.
constexpr std::size_t kMaxChunks = 256;
// A drive that resets on every try of a chunk would otherwise be fed it for ever.
constexpr int kMaxResetRetries = 10;
constexpr long kWriteBufferTimeout = 300;
constexpr long kShortTimeout = 30;
constexpr DWORD kChunkPauseMs = 1500;
constexpr DWORD kReinitWaitMs = 30000;
constexpr int kReadyRounds = 7;
constexpr int kAllPages = 0x3F;

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

bool HasExtension(const std::string& path, const char* extension)
{
    if (path.size() < 4) {
        return false;
    }
    std::string tail = path.substr(path.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == extension;
}

void Report(DeviceRecord& record, TestState state, const std::string& text)
{
    PublishStatus(record, state, text);
    LogLine(text, &record, kGuiWithAddress);
}

bool IsDeviceReset(const CdbAnswer& answer)
{
    // UNIT ATTENTION, DEVICE INTERNAL RESET.
    const SenseView sense = answer.ViewSense();
    return sense.Key() == kSenseKeyUnitAttention && sense.Asc() == 0x29 && sense.Ascq() == 0x04;
}

// Reads up to length bytes at offset into the zero-filled buffer; the count read, or -1.
long ReadChunk(std::FILE* file, long offset, std::uint8_t* buffer, std::size_t length)
{
    std::fill(buffer, buffer + kTransferBytes, 0);
    if (std::fseek(file, offset, SEEK_SET) != 0) {
        return -1;
    }
    const std::size_t read = std::fread(buffer, 1, length, file);
    return std::ferror(file) != 0 ? -1 : static_cast<long>(read);
}

// The chunks sent, or -1 after a failure already reported.
int SendSegmented(DeviceRecord& record, std::FILE* file, long start, std::uint8_t* buffer)
{
    int sent = 0;
    for (std::size_t offset = 0;; offset += kSegmentBytes) {
        const long read = ReadChunk(file, start + static_cast<long>(offset), buffer, kSegmentBytes);
        if (read <= 0) {
            return read < 0 ? -1 : sent;
        }
        const Cdb cdb = cdb::WriteBuffer(kBufferDownloadOffsetsSave, 0, static_cast<std::uint32_t>(offset),
                                         static_cast<std::uint32_t>(read));
        CdbAnswer answer;
        for (int tries = 0; tries <= kMaxResetRetries; ++tries) {
            answer = SendCdb(record, cdb, buffer, static_cast<std::uint32_t>(read), kWriteBufferTimeout);
            if (answer.Good() || !IsDeviceReset(answer)) {
                break;
            }
        }
        if (!answer.Good()) {
            Report(record, TEST_FAILED, "Download Failed " + SenseCodes(answer.ViewSense()));
            return -1;
        }
        ++sent;
    }
}

int SendChunks(DeviceRecord& record, std::FILE* file, long start, std::uint8_t* buffer)
{
    for (std::size_t chunk = 0;; ++chunk) {
        const long read = ReadChunk(file, start + static_cast<long>(chunk * kChunkBytes), buffer, kChunkBytes);
        if (read <= 0) {
            return read < 0 ? -1 : static_cast<int>(chunk);
        }
        if (chunk == kMaxChunks) {
            // Whether what was sent made a whole image, the drive's revision tells.
            Report(record, TEST_RUNNING, "Download: the file is larger than the drive can take; the rest is not sent");
            return static_cast<int>(chunk);
        }
        if (chunk > 0) {
            Sleep(kChunkPauseMs);
            SendNoDataCommand(record, cdb::TestUnitReady(), kShortTimeout);
        }
        // Each chunk goes whole into its own buffer ID, however much of it the file filled.
        const Cdb cdb = cdb::WriteBuffer(kBufferDownloadSave, static_cast<std::uint8_t>(chunk), 0, kChunkBytes);
        const CdbAnswer answer =
            SendCdb(record, cdb, buffer, static_cast<std::uint32_t>(read), kWriteBufferTimeout);
        if (!answer.Good()) {
            Report(record, TEST_FAILED, "Download Failed " + SenseCodes(answer.ViewSense()));
            return -1;
        }
    }
}

// True when the drive came back ready.
bool AwaitReady(DeviceRecord& record)
{
    Report(record, TEST_RUNNING, "Re-Initializing Drive - DO NOT INTERRUPT!");
    Sleep(kReinitWaitMs);
    for (int round = 0; round < kReadyRounds; ++round) {
        if (SendNoDataCommand(record, cdb::TestUnitReady(), kShortTimeout) == 0) {
            Report(record, TEST_PASSED, "Download - Complete");
            return true;
        }
        SendNoDataCommand(record, cdb::StartStopUnit(true), kShortTimeout);
        Sleep(kReinitWaitMs);
    }
    Report(record, TEST_FAILED, "Download - Failed");
    return false;
}

std::string Trimmed(std::string text)
{
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

// The revision the drive reports now; empty when it does not answer.
std::string RevisionNow(const DeviceRecord& record)
{
    DeviceIdentity identity;
    return ReadIdentity(record, identity) == 0 ? Trimmed(identity.revision) : "";
}

// A ready drive still running its old firmware has not been upgraded.
void CheckRevision(DeviceRecord& record, const DownloadJob& job)
{
    const std::string after = RevisionNow(record);
    const std::string before = Trimmed(job.revisionBefore);
    if (job.expectedRevision.empty()) {
        LogLine(Format("Revision before the download: %s, after: %s", before.c_str(), after.c_str()), &record,
                kGuiWithAddress);
        return;
    }
    if (after != job.expectedRevision) {
        Report(record, TEST_FAILED,
               Format("Download Failed: the drive reports revision %s, the file carries %s",
                      after.empty() ? "(none)" : after.c_str(), job.expectedRevision.c_str()));
        return;
    }
    LogLine(Format("Revision before the download: %s, after: %s", before.c_str(), after.c_str()), &record,
            kGuiWithAddress);
}

}  // namespace

bool IsKstFile(const std::string& path) { return HasExtension(path, ".kst"); }

bool IsLodFile(const std::string& path) { return HasExtension(path, ".lod"); }

bool IsRegularFile(const std::string& path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

std::string KstRevision(const std::string& path)
{
    if (!IsRegularFile(path)) {
        return "";
    }
    const File file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) {
        return "";
    }
    std::array<char, kKstHeaderBytes> header{};
    std::string text(header.data(), std::fread(header.data(), 1, header.size(), file.get()));
    text = text.substr(0, text.find('\0'));
    const std::size_t first = text.find(',');
    const std::size_t second = first == std::string::npos ? first : text.find(',', first + 1);
    if (second == std::string::npos) {
        return "";
    }
    std::string revision = text.substr(second + 1);
    revision = revision.substr(0, revision.find_first_of(", "));
    return revision;
}

bool ProductMatches(const std::string& path, const std::string& inquiryProduct)
{
    if (!IsRegularFile(path)) {
        return false;
    }
    const File file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) {
        return false;
    }
    std::array<char, kKstHeaderBytes> header{};
    const std::size_t read = std::fread(header.data(), 1, header.size(), file.get());
    const std::string text(header.data(), read);
    const std::string product = inquiryProduct.substr(0, inquiryProduct.find(' '));
    return !product.empty() && text.find(product) != std::string::npos && text.find("KESTREL,") != std::string::npos;
}

void DownloadFirmware(DeviceRecord& record, const DownloadJob& job)
{
    if (job.path.empty()) {
        Report(record, TEST_FAILED, "Must enter filename");
        return;
    }
    if (!IsRegularFile(job.path)) {
        Report(record, TEST_FAILED, Format("Error opening file %s: not a regular file", job.path.c_str()));
        return;
    }
    const File file(std::fopen(job.path.c_str(), "rb"), std::fclose);
    if (!file) {
        Report(record, TEST_FAILED, Format("Error opening file %s", job.path.c_str()));
        return;
    }
    Report(record, TEST_RUNNING, "Downloading - DO NOT INTERRUPT!");
    std::vector<std::uint8_t> buffer(kTransferBytes);
    const long start = job.headerless ? 0 : static_cast<long>(kKstHeaderBytes);
    const int sent = job.notIbm ? SendChunks(record, file.get(), start, buffer.data())
                                : SendSegmented(record, file.get(), start, buffer.data());
    if (sent < 0) {
        if (record.state != TEST_FAILED) {
            Report(record, TEST_FAILED, Format("Error reading file %s", job.path.c_str()));
            return;
        }
        // A drive that installed the image and refused what the file carries beyond it is upgraded.
        if (job.expectedRevision.empty() || RevisionNow(record) != job.expectedRevision) {
            return;
        }
        Report(record, TEST_RUNNING, "Download: the drive took the firmware and refused the rest of the file");
    }
    if (sent == 0) {
        // Nothing reached the drive: its old firmware is still running.
        Report(record, TEST_FAILED, Format("Download Failed: %s holds no firmware", job.path.c_str()));
        return;
    }
    if (AwaitReady(record)) {
        CheckRevision(record, job);
    }
}

void LogModePages(DeviceRecord& record, const char* heading)
{
    std::array<std::uint8_t, 255> data{};
    const CdbAnswer answer =
        SendCdb(record, cdb::ModeSense6(kAllPages, kModeCurrent, 0xFF), data.data(), data.size(), kShortTimeout);
    if (!answer.Good()) {
        LogLine(Format("Mode Sense Error on Target %d", record.target), &record, kGuiWithAddress);
        return;
    }
    LogLine(heading, &record, kGuiWithAddress);
    const std::size_t length = std::min<std::size_t>(data[0] + 1u, data.size());
    for (std::size_t i = 0; i < length; i += 2) {
        LogLine(i + 1 < length ? Format("%2.2X           %2.2X", data[i], data[i + 1]) : Format("%2.2X", data[i]),
                &record, kGuiWithAddress);
    }
}
