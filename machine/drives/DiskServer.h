// A direct-access drive (SBC-2): data in the unit's sparse file, mode pages,
// log pages, self tests, format, defects and firmware download. A drive of
// the maker adds its vendor pages.
#pragma once

#include "machine/drives/Firmware.h"
#include "machine/drives/ModePages.h"
#include "machine/drives/ScsiServer.h"
#include "machine/drives/StateStore.h"

#include <array>
#include <filesystem>
#include <optional>
#include <vector>

namespace harrow::machine::drives {

class DiskServer final : public ScsiServer {
public:
    // Throws std::runtime_error when the state folder cannot be used.
    DiskServer(UnitConfig config, const std::filesystem::path& stateDir);

private:
    struct Failure {
        double fraction;  // of the test's duration
        std::uint8_t segment;
        std::uint64_t lba;
        SenseCode code;
    };

    using Handler = ScsiResult (*)(DiskServer&, const ScsiRequest&);
    struct Command {
        Handler run = nullptr;      // none: ILLEGAL REQUEST, invalid operation code
        bool mediumAccess = false;  // refused while the unit is stopped or becoming ready
    };
    static const std::array<Command, 256>& Commands();

    ScsiResult Serve(const ScsiRequest& request) override;
    ScsiResult Dispatch(const ScsiRequest& request) override;
    bool DescriptorSense() const override;
    std::uint8_t PeripheralType() const override { return 0x00; }
    Condition CurrentCondition() override;
    std::vector<std::uint8_t> StandardInquiry() const override;
    std::vector<int> VendorPages() const override;
    std::vector<std::uint8_t> VendorPage(int page) const override;

    // Medium access
    std::optional<ScsiResult> NotReady(bool mediumAccess);
    ScsiResult Read(const ScsiRequest& request, std::uint64_t lba, std::uint64_t count);
    ScsiResult Write(const ScsiRequest& request, std::uint64_t lba, std::uint64_t count);
    ScsiResult Verify(const ScsiRequest& request, std::uint64_t lba, std::uint64_t count, bool compare);
    ScsiResult CheckRange(std::uint64_t lba, std::uint64_t count) const;
    ScsiResult Seek(std::uint64_t lba) const;
    ScsiResult CheckTransfer(std::uint64_t lba, std::uint64_t count) const;
    ScsiResult ReadCapacity10(const ScsiRequest& request);
    ScsiResult ReadCapacity16(const ScsiRequest& request);
    // The refusal of a READ LONG or WRITE LONG CDB, if any.
    std::optional<ScsiResult> CheckLongCdb(std::uint64_t lba, std::uint32_t length) const;
    ScsiResult ReadLong(const ScsiRequest& request);
    ScsiResult WriteLong(const ScsiRequest& request);
    ScsiResult WriteSame(const ScsiRequest& request);
    std::optional<std::uint64_t> FirstMediumError(std::uint64_t lba, std::uint64_t count) const;
    bool IsMediumError(std::uint64_t lba) const;

    // Mode and log pages
    ScsiResult ModeSense(const ScsiRequest& request, bool ten);
    ScsiResult ModeSelect(const ScsiRequest& request, bool ten);
    std::vector<std::uint8_t> BlockDescriptor(PageControl control) const;
    std::vector<std::uint8_t> ModePage(int code, PageControl control) const;
    std::optional<SenseCode> SelectBlockDescriptor(std::span<const std::uint8_t> descriptor);
    ScsiResult LogSense(const ScsiRequest& request);
    ScsiResult LogSelect(const ScsiRequest& request);
    std::vector<int> LogPageCodes() const;
    std::vector<std::uint8_t> SelfTestPage() const;

    // Diagnostics and maintenance
    ScsiResult SendDiagnostic(const ScsiRequest& request);
    ScsiResult RunForeground(Operation operation);
    void StartBackground(Operation operation);
    void AbortSelfTest(std::uint8_t result);
    void Advance();
    std::optional<Failure> PlannedFailure(Operation operation) const;
    void LogSelfTest(Operation operation, const std::optional<Failure>& failure, bool aborted, std::uint8_t result);
    std::uint16_t Progress() const;
    ScsiResult FormatUnit(const ScsiRequest& request);
    void FinishWaitedFormat(double start);
    ScsiResult ReadDefectData(const ScsiRequest& request, bool twelve);
    ScsiResult ReassignBlocks(const ScsiRequest& request);
    ScsiResult WriteBuffer(const ScsiRequest& request);
    ScsiResult ReadBuffer(const ScsiRequest& request);
    ScsiResult StartStopUnit(const ScsiRequest& request);

    // Informational exceptions (SPC-4 7.5.8): the MRIE of the IE mode page when
    // a failure is predicted and DEXCPT is clear, else 0.
    int ExceptionReporting() const;
    // MRIE 3 to 5: the first command that completes carries the exception.
    ScsiResult TellException(const ScsiRequest& request, ScsiResult result);

    std::uint64_t MaxBlocks(std::uint32_t blockSize) const;
    std::uint32_t PowerOnMinutes() const;
    double Elapsed() const;
    std::uint8_t SelfTestCode(Operation operation) const;
    void CompleteLoadedPages();

    ModePages m_pages;
    StateStore m_store;
    UnitState& m_state;
    std::uint64_t m_pagesCompletedAt = 0;  // the store's load count when pages were last completed
    FirmwareCollector m_firmware;
    std::vector<std::uint8_t> m_echo;  // the data buffer of READ/WRITE BUFFER mode 2
    bool m_stopped = false;
    bool m_formatFailed = false;  // told once, as a deferred error, after the format ends
    std::optional<double> m_waitedFormatStart;  // a format without IMMED this command started
    int m_downloadPieces = 0;
    Operation m_foreground = Operation::None;
    std::uint64_t m_bytesRead = 0;
    std::uint64_t m_bytesWritten = 0;
    std::uint64_t m_bytesVerified = 0;
    std::uint64_t m_uncorrected = 0;
    bool m_exceptionTold = false;
};

}  // namespace harrow::machine::drives
