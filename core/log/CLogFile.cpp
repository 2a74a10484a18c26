#include "core/log/CLogFile.h"

#include "core/devices/OrbDevice.h"
#include "core/types/SenseText.h"
#include "core/types/StringPrintf.h"
#include "platform/Kernel.h"

#include <cstdio>
#include <stdexcept>

namespace {

// The writer also wakes this often when nothing is signalled, as a safety net.
constexpr DWORD WRITER_POLL_MS = 1000;
constexpr const char* DEVICE_BLOCK_END = "---------------------------------------------\n\n";

// Holds the semaphore that guards the event queue and the clearing of the file.
class QueueLock {
public:
    explicit QueueLock(HANDLE semaphore) : m_Semaphore(semaphore) { WaitForSingleObject(m_Semaphore, INFINITE); }
    ~QueueLock() { ReleaseSemaphore(m_Semaphore, 1, nullptr); }
    QueueLock(const QueueLock&) = delete;
    QueueLock& operator=(const QueueLock&) = delete;

private:
    HANDLE m_Semaphore;
};

// Serialises Init and Destroy.
std::mutex& LifecycleLock()
{
    static std::mutex lock;
    return lock;
}

void CloseIfOpen(HANDLE& handle)
{
    if (handle != nullptr) {
        CloseHandle(handle);
        handle = nullptr;
    }
}

}  // namespace

std::atomic<CLogFile*> CLogFile::_instance{nullptr};
std::atomic<bool> CLogFile::m_bLoggingOn{true};

CLogFile::CLogFile(const std::string& fileName) : m_FileName(fileName)
{
    m_File.open(fileName, std::ios::out | std::ios::app);
    if (!m_File.is_open()) {
        throw std::runtime_error("Error opening logfile");
    }
    m_Lock = CreateSemaphoreA(nullptr, 1, 1, nullptr);
    m_EndEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_QueuedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (m_Lock == nullptr || m_EndEvent == nullptr || m_QueuedEvent == nullptr) {
        CloseIfOpen(m_Lock);
        CloseIfOpen(m_EndEvent);
        CloseIfOpen(m_QueuedEvent);
        throw std::runtime_error("Error creating the log's kernel objects");
    }
}

CLogFile::~CLogFile()
{
    // Events handed over after the writer's last pass still reach the file.
    WriteQueuedEvents();
    CloseIfOpen(m_Lock);
    CloseIfOpen(m_EndEvent);
    CloseIfOpen(m_QueuedEvent);
}

Error_t CLogFile::Init(const std::string& fileName)
{
    std::lock_guard guard(LifecycleLock());
    if (_instance.load() != nullptr) {
        return ERR_ALREADY_INITIALIZED;
    }
    if (fileName.empty()) {
        return ERR_INVALID_PARAM;
    }
    CLogFile* log = nullptr;
    try {
        log = new CLogFile(fileName);
    } catch (const std::runtime_error&) {
        return ERR_NO_RESOURCE;
    }
    if (!log->StartThread()) {
        delete log;
        return ERR_DRIVER_FAILURE;
    }
    _instance = log;
    return ERR_NONE;
}

CLogFile* CLogFile::Instance(long)
{
    return _instance.load();
}

void CLogFile::Destroy()
{
    std::lock_guard guard(LifecycleLock());
    CLogFile* log = _instance.exchange(nullptr);
    if (log == nullptr) {
        return;
    }
    log->EndLogging();
    WaitForSingleObject(log->m_Thread, INFINITE);
    CloseIfOpen(log->m_Thread);
    delete log;
}

bool CLogFile::StartThread()
{
    m_Thread = CreateThread(nullptr, 0, &CLogFile::ThreadMain, this, CREATE_SUSPENDED, nullptr);
    if (m_Thread == nullptr) {
        return false;
    }
    SetThreadPriority(m_Thread, THREAD_PRIORITY_NORMAL);
    ResumeThread(m_Thread);
    return true;
}

DWORD CLogFile::ThreadMain(LPVOID self)
{
    auto* log = static_cast<CLogFile*>(self);
    log->ProcessLogEvents();
    log->WriteQueuedEvents();
    return 0;
}

void CLogFile::SetLogging(bool on)
{
    m_bLoggingOn = on;
}

bool CLogFile::IsLoggingOn()
{
    return m_bLoggingOn;
}

bool CLogFile::IsCDBLoggingOn()
{
    CLogFile* log = Instance();
    return log != nullptr && log->m_bCDBLogging;
}

bool CLogFile::IsErrorLoggingOn()
{
    CLogFile* log = Instance();
    return log != nullptr && log->m_bErrorLogging;
}

bool CLogFile::IsDevInfoLoggingOn()
{
    CLogFile* log = Instance();
    return log != nullptr && log->m_bDevInfoLogging;
}

bool CLogFile::IsPerfLoggingOn()
{
    CLogFile* log = Instance();
    return log != nullptr && log->m_bPerfLogging;
}

void CLogFile::TurnOnLogOption(Logging_t kind)
{
    SetLogOption(kind, true);
}

void CLogFile::TurnOffLogOption(Logging_t kind)
{
    SetLogOption(kind, false);
}

void CLogFile::SetLogOption(Logging_t kind, bool on)
{
    switch (kind) {
    case LOG_ALL:
        m_bCDBLogging = m_bErrorLogging = m_bDevInfoLogging = m_bPerfLogging = on;
        break;
    case LOG_CDB:
        m_bCDBLogging = on;
        break;
    case LOG_ERRORS:
        m_bErrorLogging = on;
        break;
    case LOG_DEVINFO:
        m_bDevInfoLogging = on;
        break;
    case LOG_PERF:
        m_bPerfLogging = on;
        break;
    }
}

Error_t CLogFile::LogEvent(CEventBase* event)
{
    if (event == nullptr) {
        return ERR_INVALID_PARAM;
    }
    AddEvent(std::unique_ptr<CEventBase>(event));
    return ERR_NONE;
}

void CLogFile::AddEvent(std::unique_ptr<CEventBase> event)
{
    {
        QueueLock lock(m_Lock);
        m_Queue.push_back(std::move(event));
    }
    // Signalled once the queue is free: a writer woken while it is held
    // would only sleep again on it. The writer resets the signal only under
    // the lock and with the queue empty, so this event cannot be missed.
    SetEvent(m_QueuedEvent);
}

std::unique_ptr<CEventBase> CLogFile::TakeOldestEvent()
{
    QueueLock lock(m_Lock);
    std::unique_ptr<CEventBase> event;
    if (!m_Queue.empty()) {
        event = std::move(m_Queue.front());
        m_Queue.pop_front();
    }
    // Reset under the lock, so an event added meanwhile signals again.
    if (m_Queue.empty()) {
        ResetEvent(m_QueuedEvent);
    }
    return event;
}

Error_t CLogFile::WriteEventToFile()
{
    std::unique_ptr<CEventBase> event = TakeOldestEvent();
    if (!event) {
        return ERR_INVALID_PARAM;
    }
    return WriteText(event->toString());
}

void CLogFile::WriteQueuedEvents()
{
    while (WriteEventToFile() != ERR_INVALID_PARAM) {
    }
}

Error_t CLogFile::WriteText(const std::string& text)
{
    std::lock_guard guard(m_FileLock);
    m_File << text;
    m_File.flush();
    if (!m_File) {
        m_File.clear();
        std::fprintf(stderr, "Error writing log file %s\n", m_FileName.c_str());
        return ERR_NO_RESOURCE;
    }
    return ERR_NONE;
}

void CLogFile::ProcessLogEvents()
{
    const HANDLE waits[] = {m_EndEvent, m_QueuedEvent};
    for (;;) {
        const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, WRITER_POLL_MS);
        if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED) {
            return;
        }
        if (woken == WAIT_OBJECT_0 + 1) {
            WriteEventToFile();
        }
    }
}

void CLogFile::EndLogging()
{
    SetEvent(m_EndEvent);
}

bool CLogFile::IsStillLogging()
{
    return WaitForSingleObject(m_EndEvent, 0) != WAIT_OBJECT_0;
}

Error_t CLogFile::LogDeviceInfo(const CDevAddress& address, Device_t deviceType, const std::string& vendor,
                                const std::string& model, const std::string& serialNumber,
                                const std::string& firmware)
{
    std::string block = StringPrintf("Device: %d:%d:%d\n", address.m_HostAdapter, address.m_Target, address.m_Lun);
    block += StringPrintf("Device type: %d\n", static_cast<int>(deviceType));
    block += "Vendor: " + vendor + "\n";
    block += "Model: " + model + "\n";
    block += "Serial Number: " + serialNumber + "  \n";
    block += "Firmware version: " + firmware + "\n";
    block += DEVICE_BLOCK_END;
    return WriteText(block);
}

Error_t CLogFile::LogDeviceInfo(OrbDevice* device)
{
    if (device == nullptr) {
        return ERR_INVALID_PARAM;
    }
    const CDevAddress address(device->GetHANum(), device->GetTargetNum(), static_cast<int>(device->GetLUNNum()), -1,
                              -1, -1);
    return LogDeviceInfo(address, device->GetDevType(), device->GetVendor(), device->GetModelName(),
                         device->GetSerialNum_Str(), device->GetFirmwareVersion());
}

void CLogFile::ChangeLogFile(const std::string& fileName)
{
    std::lock_guard guard(m_FileLock);
    m_File.close();
    m_File.clear();
    m_File.open(fileName, std::ios::out | std::ios::app);
    if (!m_File.is_open()) {
        m_File.clear();
        m_File.open(m_FileName, std::ios::out | std::ios::app);
        throw std::runtime_error("Error opening log file");
    }
    m_FileName = fileName;
}

void CLogFile::ClearLogFile()
{
    QueueLock lock(m_Lock);
    std::lock_guard guard(m_FileLock);
    m_File.close();
    m_File.clear();
    m_File.open(m_FileName, std::ios::out | std::ios::trunc);
    if (!m_File.is_open()) {
        m_File.clear();
        m_File.open(m_FileName, std::ios::out | std::ios::app);
        throw std::runtime_error("Error clearing log file");
    }
}

std::string CLogFile::GetLogFileName()
{
    std::lock_guard guard(m_FileLock);
    return m_FileName;
}

const char* CLogFile::GetHAStatText(int status)
{
    return HostAdapterStatusText(status);
}

void CLogFile::InterpretSense(const SCSI_SenseData_s* sense, std::string& keyText, std::string& ascText,
                              std::string& qualifiedText)
{
    ::InterpretSense(sense, keyText, ascText, qualifiedText);
}

void CLogFile::XlateDiskBlock(unsigned long, int& cylinder, int& head, int& sector)
{
    cylinder = head = sector = 0;
}
