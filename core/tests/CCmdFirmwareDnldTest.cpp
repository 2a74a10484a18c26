#include "core/tests/CCmdFirmwareDnldTest.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/devices/CDisk.h"
#include "core/types/CEventError.h"

#include <memory>
#include <utility>

namespace {

// Time a unit that is not ready after a download gets before it is started.
constexpr DWORD kRestartWaitMs = 10000;

// WRITE BUFFER carries its buffer offset and its length in 24 bits (SPC-4 6.35).
constexpr long kLargestImage = 0xFFFFFF;
// The unit attention a drive raises once it runs new microcode (SPC-4 annex F: 3F/01).
constexpr int kSenseUnitAttention = 6;
constexpr int kAscMicrocodeChanged = 0x3F;

// The file's length in bytes, or -1 when it cannot be opened and measured.
long MeasureFile(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return -1;
    }
    const bool measured = std::fseek(file, 0, SEEK_END) == 0;
    const long length = measured ? std::ftell(file) : -1;
    std::fclose(file);
    return length;
}

// The file must open, measure and fit the offsets and lengths of WRITE BUFFER.
Error_t CheckImage(const std::string& path)
{
    if (path.empty()) {
        return ERR_INVALID_PARAM;
    }
    const long length = MeasureFile(path);
    return length < 0 || length > kLargestImage ? ERR_TEST_18 : ERR_NONE;
}

CEventBase* CannotRead(const std::string& path)
{
    return new CEventError("Cannot read the firmware file " + path, ERR_TEST_18);
}

// Runs a unit check whose failure is expected and of no interest.
template <class Command>
void Quietly(Command command)
{
    try {
        command();
    } catch (CEventBase* event) {
        delete event;
    }
}

}  // namespace

CFirmwareDnldThread::CFirmwareDnldThread(SCSIDevice* device, AlignedBuffer* buffer, int patternSlot,
                                         std::string path, int mode)
    : CThreadBase(0, 0, 0, 0, device, buffer, patternSlot, 0), m_Path(std::move(path)), m_Mode(mode)
{
}

CFirmwareDnldThread::~CFirmwareDnldThread()
{
    if (m_pFile != nullptr) {
        std::fclose(m_pFile);
    }
}

void CFirmwareDnldThread::TestUnitReadyTwice()
{
    try {
        m_pDevice->TestUnitReady(0);
        m_pDevice->TestUnitReady(0);
    } catch (CEventBase* event) {
        delete event;
    }
}

bool CFirmwareDnldThread::InitInstance()
{
    const unsigned long saved = m_pDevice->SetSilent(true);
    TestUnitReadyTwice();
    m_pDevice->SetLogState(saved);
    m_pFile = std::fopen(m_Path.c_str(), "rb");
    if (m_pFile == nullptr) {
        // A download that sent nothing did not pass.
        ProcessError(CannotRead(m_Path));
        return false;
    }
    m_StartTime = std::time(nullptr);
    RunTest();
    std::fclose(m_pFile);
    m_pFile = nullptr;
    return false;
}

void CFirmwareDnldThread::WriteBuffer(long offset, long length, AlignedBuffer* data, bool closing)
{
    try {
        Checked(m_pDevice->WriteBuffer(0, offset, length, data, m_Mode, 0));
    } catch (CEventBase* event) {
        if (closing && IsNewMicrocode(event)) {
            delete event;  // the whole image was taken: the drive says it runs it
            return;
        }
        ProcessError(event);
    }
}

bool CFirmwareDnldThread::IsNewMicrocode(CEventBase* event)
{
    const auto* error = dynamic_cast<const CEventError*>(event);
    return error != nullptr && error->GetSenseKey() == kSenseUnitAttention &&
           error->GetASC() == kAscMicrocodeChanged;
}

void CFirmwareDnldThread::SendChunk(unsigned long chunkBytes, Finish_t finish)
{
    const std::size_t read = std::fread(m_pBuffer->Ptr(), 1, chunkBytes, m_pFile);
    // Half an image must not be taken for the whole, nor an offset past what
    // WRITE BUFFER can carry (a file grown since it was measured).
    if (std::ferror(m_pFile) != 0 || m_Offset + static_cast<long>(read) > kLargestImage) {
        ProcessError(CannotRead(m_Path));
        EndTest();
        return;
    }
    // After the last byte an empty command closes the download.
    const bool closing = read == 0 && m_Offset > 0;
    WriteBuffer(m_Offset, static_cast<long>(read), m_pBuffer, closing);
    if (std::feof(m_pFile) == 0) {
        m_Offset += static_cast<std::int32_t>(read);
    } else if (finish == RestartIfNotReady) {
        FinishAndRestart();
    } else {
        FinishQuietly();
    }
}

void CFirmwareDnldThread::StartUnit()
{
    // Only a disk has a START STOP UNIT of its own.
    if (auto* disk = dynamic_cast<CDisk*>(m_pDevice); disk != nullptr) {
        disk->StartStopUnit(0, true, false);
    }
}

void CFirmwareDnldThread::FinishAndRestart()
{
    const unsigned long saved = m_pDevice->SetSilent(true);
    try {
        m_pDevice->TestUnitReady(0);
    } catch (CEventBase* notReady) {
        delete notReady;
        Pause(kRestartWaitMs);
        try {
            StartUnit();
            m_pDevice->TestUnitReady(0);
        } catch (CEventBase* event) {
            ProcessError(event);
        }
    }
    m_pDevice->SetLogState(saved);
    Pause(kEndPauseMs);
    EndTest();
}

void CFirmwareDnldThread::FinishQuietly()
{
    const unsigned long saved = m_pDevice->SetSilent(true);
    Quietly([this] { m_pDevice->TestUnitReady(0); });
    Quietly([this] { m_pDevice->TestUnitReady(0); });
    Quietly([this] { StartUnit(); });
    Quietly([this] { m_pDevice->TestUnitReady(0); });
    m_pDevice->SetLogState(saved);
    Pause(kEndPauseMs);
    EndTest();
}

void CSegFirmwareDnldThread::TestLogic(unsigned long)
{
    SendChunk(CCmdSegFirmwareDnldTest::BYTES_PER_XFER, RestartIfNotReady);
}

void CIBMFirmwareDnldThread::TestLogic(unsigned long)
{
    SendChunk(CCmdIBMFirmwareDnldTest::BYTES_PER_XFER, StartQuietly);
}

CNonSegFirmwareDnldThread::CNonSegFirmwareDnldThread(SCSIDevice* device, AlignedBuffer* buffer, int patternSlot,
                                                     std::string path, int mode, long fileLength)
    : CFirmwareDnldThread(device, buffer, patternSlot, std::move(path), mode),
      m_FileLength(static_cast<std::int32_t>(fileLength)),
      m_Image(std::make_unique<AlignedBuffer>(fileLength))
{
    // Each thread its own image: two downloads at once must not swap files.
    if (std::FILE* file = std::fopen(m_Path.c_str(), "rb"); file != nullptr) {
        m_bImageRead = std::fread(m_Image->Ptr(), 1, m_Image->Size(), file) == m_Image->Size();
        std::fclose(file);
    }
}

CNonSegFirmwareDnldThread::~CNonSegFirmwareDnldThread() = default;

void CNonSegFirmwareDnldThread::TestLogic(unsigned long)
{
    if (!m_bImageRead) {
        ProcessError(CannotRead(m_Path));
        EndTest();
        return;
    }
    WriteBuffer(0, m_FileLength, m_Image.get(), false);
    FinishAndRestart();
}

CCmdFirmwareDnldTest::CCmdFirmwareDnldTest(std::list<CDevAddress>* addresses, long deviceCount, int patternSlot,
                                           int mode)
    : CTestBase(addresses, deviceCount, patternSlot, 1, 0), m_Mode(mode)
{
}

CCmdFirmwareDnldTest::CCmdFirmwareDnldTest(std::list<SCSIDevice*>* devices, long deviceCount, int patternSlot,
                                           int mode)
    : CTestBase(devices, deviceCount, patternSlot, 1, 0), m_Mode(mode)
{
}

Error_t CCmdFirmwareDnldTest::StartTest(int, long, long, long)
{
    return ERR_NONE;
}

Error_t CCmdFirmwareDnldTest::StartTest(unsigned long, unsigned long, long, long, long)
{
    return ERR_NONE;
}

Error_t CCmdSegFirmwareDnldTest::StartTest(const std::string& path)
{
    if (Error_t refused = CheckImage(path); refused != ERR_NONE) {
        return refused;
    }
    m_FirmwarePath = path;
    SetCustomBufSize(BYTES_PER_XFER);
    return ERR_NONE;
}

CThreadBase* CCmdSegFirmwareDnldTest::MakeAThread(SCSIDevice* device, AlignedBuffer* buffer)
{
    return new CSegFirmwareDnldThread(device, buffer, m_PatternSlot, m_FirmwarePath, m_Mode);
}

Error_t CCmdIBMFirmwareDnldTest::StartTest(const std::string& path)
{
    if (Error_t refused = CheckImage(path); refused != ERR_NONE) {
        return refused;
    }
    m_FirmwarePath = path;
    SetCustomBufSize(BYTES_PER_XFER);
    return ERR_NONE;
}

CThreadBase* CCmdIBMFirmwareDnldTest::MakeAThread(SCSIDevice* device, AlignedBuffer* buffer)
{
    return new CIBMFirmwareDnldThread(device, buffer, m_PatternSlot, m_FirmwarePath, m_Mode);
}

Error_t CCmdNonSegFirmwareDnldTest::StartTest(const std::string& path)
{
    if (Error_t refused = CheckImage(path); refused != ERR_NONE) {
        return refused;
    }
    m_FileLength = static_cast<std::int32_t>(MeasureFile(path));
    m_FirmwarePath = path;
    return ERR_NONE;
}

CThreadBase* CCmdNonSegFirmwareDnldTest::MakeAThread(SCSIDevice* device, AlignedBuffer* buffer)
{
    return new CNonSegFirmwareDnldThread(device, buffer, m_PatternSlot, m_FirmwarePath, m_Mode, m_FileLength);
}
