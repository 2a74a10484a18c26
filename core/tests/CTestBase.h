#pragma once

#include "core/types/CDevAddress.h"
#include "core/types/Error.h"
#include "platform/Kernel.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <list>
#include <mutex>
#include <utility>
#include <vector>

class AlignedBuffer;
class CEventBase;
class CTestBufferAccess;
class CThreadBase;
class SCSIDevice;

// Alarms are reported as events; the test itself always answers NoAlarm.
enum Alarm_t : std::int32_t {
    NoAlarm = 0,
};

// A host-driven test over a list of devices: worker threads per device,
// watched by the thread that runs RunTest, which queues their errors and
// alarms for the client and ends every thread of a device that failed.
class CTestBase {
public:
    static constexpr unsigned long END_FROM_PERCENTAGE = 0xFFFFFFFF;
    // Device test states.
    static constexpr unsigned long TEST_STATE_RUNNING = 1;
    static constexpr unsigned long TEST_STATE_PASSED = 2;
    static constexpr unsigned long TEST_STATE_ABORTED = 3;
    static constexpr unsigned long TEST_STATE_FAILED = 4;

    CTestBase(const CTestBase&) = delete;
    CTestBase& operator=(const CTestBase&) = delete;
    // Does not stop threads: destroy a test only after RunTest returned.
    virtual ~CTestBase();

    virtual Error_t StartTest(int percentage, long opCount, long blocksPerXfer, long timeLimit);
    virtual Error_t StartTest(unsigned long startBlock, unsigned long endBlock, long opCount, long blocksPerXfer,
                              long timeLimit);
    virtual void GetProgressRange(long& low, long& high);

    // Blocks until the threads are gone and the client took every queued error.
    Error_t RunTest();

    bool IsRunning() const { return m_bRunning; }
    long GetProgress() const { return m_Progress; }
    unsigned long GetCurrentBlock() const { return m_CurrentBlock; }
    CTestBufferAccess* GetBufAccess() const { return m_pBufAccess; }
    SCSIDevice* GetFirstDev();
    SCSIDevice* GetNextDev();
    Alarm_t GetAlarmTripped() const { return m_AlarmTripped; }
    SCSIDevice* GetAlarmDev() const { return m_pAlarmDev; }

    // The oldest queued event, or null; the caller owns it.
    CEventBase* GetError();
    void AddError(CEventBase* event);
    void CancelTest();

    // What CTestBufferAccess walks: one buffer per thread, device by device.
    long GetNumBuffers() const;
    AlignedBuffer* GetBuffer(long index) const;
    long GetThreadsPerDevice() const { return m_ThreadsPerDevice; }
    long GetDeviceCount() const { return m_DeviceCount; }
    SCSIDevice* GetDevice(long index) const;

protected:
    CTestBase(std::list<CDevAddress>* addresses, long deviceCount, int patternSlot, long threadsPerDevice,
              long cmdBlocks);
    CTestBase(std::list<SCSIDevice*>* devices, long deviceCount, int patternSlot, long threadsPerDevice,
              long cmdBlocks);

    virtual unsigned long ThreadStartBlock(long threadIndex);
    virtual unsigned long ThreadEndBlock(unsigned long threadStart);
    // The furthest end a range may have on the device: one past its last
    // block, as a data test's end is exclusive.
    virtual std::uint64_t DeviceEnd(const SCSIDevice& device) const;
    // Builds the test's thread over m_ThreadStartBlock to m_ThreadEndBlock.
    virtual CThreadBase* MakeAThread(SCSIDevice* device, AlignedBuffer* buffer) = 0;
    virtual Error_t StopTest();

    // Blocks each thread of a device gets; 0 for an empty range.
    unsigned long ThreadSpan() const;
    void SetCustomBufSize(long bytes) { m_CustomBufSize = static_cast<std::int32_t>(bytes); }
    long GetCustomBufSize() const { return m_CustomBufSize; }
    void DeleteBuffers();
    Error_t CreateThreads();
    void AddThread(CThreadBase* thread);
    CThreadBase* RemoveThread();
    CThreadBase* GetNextThread();
    void MonitorThreads();
    void KillThreadsUsingThisDev(SCSIDevice* device);
    bool IsTestCancelled() const { return m_bCancelled; }

    std::uint64_t m_ThreadStartBlock = 0;
    std::uint64_t m_ThreadEndBlock = 0;
    // Blocks a command for the threads of the device being made: those asked,
    // cut to what the device and its port carry.
    std::int32_t m_ThreadBlocksPerXfer = 0;
    std::uint64_t m_StartBlock = 0;
    std::uint64_t m_EndBlock = 0;
    std::int32_t m_OpCount = 0;
    std::int32_t m_Percentage = 0;
    std::int32_t m_TimeLimit = 0;
    std::time_t m_StartTime = 0;
    std::atomic<std::int64_t> m_Progress{0};
    std::int32_t m_BlocksPerXfer = 0;
    std::int32_t m_CustomBufSize = 0;
    CTestBufferAccess* m_pBufAccess = nullptr;
    std::atomic<std::uint64_t> m_CurrentBlock{0};
    CThreadBase* m_pProgressThread = nullptr;
    Alarm_t m_AlarmTripped = NoAlarm;
    SCSIDevice* m_pAlarmDev = nullptr;
    std::list<CDevAddress>* m_pDevAddresses = nullptr;
    std::int32_t m_DeviceCount;
    std::list<SCSIDevice*> m_Devices;
    std::list<CThreadBase*> m_Threads;
    std::int32_t m_ThreadCount;
    std::int32_t m_ThreadsPerDevice;
    std::int32_t m_CmdBlocks;
    std::int32_t m_PatternSlot;

private:
    void Construct();
    Error_t CheckSetup() const;
    void ApplyAlarms(SCSIDevice* device) const;
    // Gives each thread of a device control blocks of its own; 0 when the
    // device's block 0 serves its only thread.
    unsigned long ReserveCtlBlocks(SCSIDevice* device);
    void ReleaseCtlBlocks();
    unsigned long FirstCtlBlockOf(unsigned long deviceFirst, long threadIndex) const;
    std::uint64_t EndFromPercentage(std::uint64_t deviceEnd) const;
    // The blocks asked a command, cut to the port's largest transfer and the
    // drive's Block Limits page; a cut is noted in the log.
    std::int32_t BlocksPerCommand(SCSIDevice* device) const;
    long BufferBytes(SCSIDevice* device) const;
    // One monitor visit; true when the thread was removed.
    bool VisitThread(CThreadBase* thread);
    void SetDeviceState(SCSIDevice* device, unsigned long state);
    void QueuePendingErrors(CThreadBase* thread);
    // Waits until the thread is gone, then unlists and deletes it.
    void RetireThread(CThreadBase* thread);
    void DiscardErrors();
    bool HasErrors();

    std::vector<AlignedBuffer*> m_Buffers;
    std::atomic<bool> m_bStopOnError{true};
    std::atomic<bool> m_bCancelled{false};
    std::mutex m_ErrorLock;
    std::list<CEventBase*> m_Errors;
    std::list<SCSIDevice*>::iterator m_DevIterator;
    std::list<CThreadBase*>::iterator m_NextThread;
    std::atomic<bool> m_bRunning{false};
    bool m_bDevicesResolved = true;
    HANDLE m_hAttention;
    std::vector<std::pair<SCSIDevice*, unsigned long>> m_AddedCtlBlocks;
};

// Thread entry for clients: runs the CTestBase* given and returns its result.
DWORD RunTest(LPVOID test);
