#include "core/tests/CCmdFirmwareDnldTest.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/devices/CDisk.h"
#include "core/types/CEventError.h"

#include <memory>
#include <mutex>
#include <utility>

namespace {

// Time a unit that is not ready after a download gets before it is started.
constexpr DWORD kRestartWaitMs = 10000;

// The whole file, shared by the live non-segmented threads.
std::mutex g_SharedLock;
AlignedBuffer* g_pSharedImage = nullptr;
volatile LONG g_SharedUsers = 0;

void LoadSharedImage(const std::string& path, long length)
{
    const std::lock_guard<std::mutex> hold(g_SharedLock);
    if (g_SharedUsers == 0) {
        auto image = std::make_unique<AlignedBuffer>(length);
        if (std::FILE* file = std::fopen(path.c_str(), "rb"); file != nullptr) {
            const std::size_t read = std::fread(image->Ptr(), 1, image->Size(), file);
            std::fclose(file);
            static_cast<void>(read);  // a file cut short since its length was taken sends zeros at the end
        }
        g_pSharedImage = image.release();
    }
    InterlockedIncrement(&g_SharedUsers);
}

void DropSharedImage()
{
    const std::lock_guard<std::mutex> hold(g_SharedLock);
    if (InterlockedDecrement(&g_SharedUsers) == 0) {
        delete g_pSharedImage;
        g_pSharedImage = nullptr;
    }
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
    if (m_pFile != nullptr) {
        m_StartTime = std::time(nullptr);
        RunTest();
        std::fclose(m_pFile);
        m_pFile = nullptr;
    }
    return false;
}

void CFirmwareDnldThread::WriteBuffer(long offset, long length, AlignedBuffer* data)
{
    try {
        Checked(m_pDevice->WriteBuffer(0, offset, length, data, m_Mode, 0));
    } catch (CEventBase* event) {
        ProcessError(event);
    }
}

void CFirmwareDnldThread::SendChunk(unsigned long chunkBytes, Finish_t finish)
{
    const std::size_t read = std::fread(m_pBuffer->Ptr(), 1, chunkBytes, m_pFile);
    if (std::ferror(m_pFile) != 0) {
        // Half an image must not be taken for the whole: report it and stop sending.
        ProcessError(new CEventError("Cannot read the firmware file " + m_Path, ERR_TEST_18));
        EndTest();
        return;
    }
    WriteBuffer(m_Offset, static_cast<long>(read), m_pBuffer);
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
    Pause(END_PAUSE_MS);
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
    Pause(END_PAUSE_MS);
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
      m_FileLength(static_cast<std::int32_t>(fileLength))
{
    LoadSharedImage(m_Path, fileLength);
}

CNonSegFirmwareDnldThread::~CNonSegFirmwareDnldThread()
{
    DropSharedImage();
}

void CNonSegFirmwareDnldThread::TestLogic(unsigned long)
{
    WriteBuffer(0, m_FileLength, g_pSharedImage);
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
    if (path.empty()) {
        return ERR_INVALID_PARAM;
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
    if (path.empty()) {
        return ERR_INVALID_PARAM;
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
    if (path.empty()) {
        return ERR_INVALID_PARAM;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return ERR_TEST_18;
    }
    const bool measured = std::fseek(file, 0, SEEK_END) == 0;
    const long length = measured ? std::ftell(file) : -1;
    std::fclose(file);
    // One WRITE BUFFER carries the whole image: its length must fit the command.
    if (length < 0 || length > 0xFFFFFF) {
        return ERR_TEST_18;
    }
    m_FileLength = static_cast<std::int32_t>(length);
    m_FirmwarePath = path;
    return ERR_NONE;
}

CThreadBase* CCmdNonSegFirmwareDnldTest::MakeAThread(SCSIDevice* device, AlignedBuffer* buffer)
{
    return new CNonSegFirmwareDnldThread(device, buffer, m_PatternSlot, m_FirmwarePath, m_Mode, m_FileLength);
}
