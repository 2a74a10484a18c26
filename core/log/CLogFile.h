#pragma once

#include "core/types/CDevAddress.h"
#include "core/types/CEventBase.h"
#include "core/types/Device.h"
#include "core/types/Error.h"
#include "core/types/SenseData.h"
#include "platform/WinTypes.h"

#include <atomic>
#include <fstream>
#include <list>
#include <memory>
#include <mutex>
#include <string>

class OrbDevice;

// Kinds of log content.
enum Logging_t : int {
    LOG_ALL = 0,
    LOG_CDB = 1,
    LOG_ERRORS = 2,
    LOG_DEVINFO = 3,
    LOG_PERF = 4,
};

// The core's user-facing log: one text file written by a background thread
// from a queue of events that any thread may add to.
class CLogFile {
public:
    static Error_t Init(const std::string& fileName);
    // Null before Init and after Destroy. The argument is not used.
    static CLogFile* Instance(long unused = 0);
    // Writes every event still queued, then closes the file.
    static void Destroy();

    // The master switch the system scan turns off while it runs.
    static void SetLogging(bool on);
    static bool IsLoggingOn();
    // The instance's option; false without an instance.
    static bool IsCDBLoggingOn();
    static bool IsErrorLoggingOn();
    static bool IsDevInfoLoggingOn();
    static bool IsPerfLoggingOn();

    void TurnOnLogOption(Logging_t kind);
    void TurnOffLogOption(Logging_t kind);

    // Takes ownership of the event; ERR_INVALID_PARAM for a null one.
    Error_t LogEvent(CEventBase* event);
    // Writes a device description block at once, from the caller's thread.
    Error_t LogDeviceInfo(const CDevAddress& address, Device_t deviceType, const std::string& vendor,
                          const std::string& model, const std::string& serialNumber, const std::string& firmware);
    Error_t LogDeviceInfo(OrbDevice* device);

    // Writes the oldest queued event; ERR_INVALID_PARAM when none is queued.
    Error_t WriteEventToFile();
    // The writer thread's loop; returns once EndLogging was called.
    void ProcessLogEvents();
    void EndLogging();
    bool IsStillLogging();

    // Both throw std::runtime_error on failure; the log then keeps its file.
    void ChangeLogFile(const std::string& fileName);
    void ClearLogFile();
    std::string GetLogFileName();

    long GetNumCDBsLogged() const { return m_NumCDBsLogged; }
    long GetNumErrorsLogged() const { return m_NumErrorsLogged; }
    Error_t LogReadErrorSummary() { return ERR_NONE; }
    Error_t LogWriteErrorSummary() { return ERR_NONE; }
    Error_t LogReadPerfSummary() { return ERR_NONE; }
    Error_t LogWritePerfSummary() { return ERR_NONE; }
    Error_t LogReadCDBSummary() { return ERR_NONE; }
    Error_t LogWriteCDBSummary() { return ERR_NONE; }

    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

protected:
    static const char* GetHAStatText(int status);
    static void InterpretSense(const SCSI_SenseData_s* sense, std::string& keyText, std::string& ascText,
                               std::string& qualifiedText);
    static void XlateDiskBlock(unsigned long block, int& cylinder, int& head, int& sector);

private:
    // Throws std::runtime_error when the file or a kernel object cannot be made.
    explicit CLogFile(const std::string& fileName);
    ~CLogFile();

    static DWORD ThreadMain(LPVOID self);
    bool StartThread();
    void AddEvent(std::unique_ptr<CEventBase> event);
    std::unique_ptr<CEventBase> TakeOldestEvent();
    Error_t WriteText(const std::string& text);
    void WriteQueuedEvents();
    void SetLogOption(Logging_t kind, bool on);

    static std::atomic<CLogFile*> _instance;
    static std::atomic<bool> m_bLoggingOn;

    std::atomic<bool> m_bCDBLogging{false};
    std::atomic<bool> m_bErrorLogging{false};
    std::atomic<bool> m_bDevInfoLogging{false};
    std::atomic<bool> m_bPerfLogging{false};
    std::string m_FileName;  // the name and the stream are guarded by m_FileLock
    std::ofstream m_File;
    long m_NumCDBsLogged = 0;
    long m_NumErrorsLogged = 0;
    HANDLE m_Lock = nullptr;  // semaphore over the queue and clearing the file
    std::list<std::unique_ptr<CEventBase>> m_Queue;
    HANDLE m_EndEvent = nullptr;
    HANDLE m_QueuedEvent = nullptr;
    HANDLE m_Thread = nullptr;
    std::mutex m_FileLock;
};
