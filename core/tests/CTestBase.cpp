#include "core/tests/CTestBase.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/devices/CDisk.h"
#include "core/devices/SCSIDevice.h"
#include "core/log/CLogFile.h"
#include "core/log/GTrace.h"
#include "core/system/CComputerSystem.h"
#include "core/tests/CAlarmEvent.h"
#include "core/tests/CTestBufferAccess.h"
#include "core/tests/CTransferLimitEvent.h"
#include "core/tests/CThreadBase.h"
#include "core/types/MessageQueue.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr unsigned long kTraceLevel = 0x8000;
constexpr DWORD kDrainPollMs = 200;
// Between rounds in which nothing happened the monitor sleeps on its wake-up
// event; progress and rate alarms are refreshed at least this often.
constexpr DWORD kIdleRoundMs = 50;

}  // namespace

CTestBase::CTestBase(std::list<CDevAddress>* addresses, long deviceCount, int patternSlot, long threadsPerDevice,
                     long cmdBlocks)
    : m_pDevAddresses(addresses),
      m_DeviceCount(static_cast<std::int32_t>(deviceCount)),
      m_ThreadCount(static_cast<std::int32_t>(deviceCount * threadsPerDevice)),
      m_ThreadsPerDevice(static_cast<std::int32_t>(threadsPerDevice)),
      m_CmdBlocks(static_cast<std::int32_t>(cmdBlocks)),
      m_PatternSlot(patternSlot),
      m_hAttention(CreateEventA(nullptr, FALSE, FALSE, nullptr))
{
    if (addresses == nullptr) {
        GTrace note(kTraceLevel, "Must have a valid pointer to device addresses");
    } else {
        CComputerSystem* system = CComputerSystem::Instance();
        for (const CDevAddress& address : *addresses) {
            SCSIDevice* device = system->GetSCSIDevice(address.m_HostAdapter, address.m_Target, address.m_Lun);
            // An address the system does not know would leave a null device to every thread.
            m_bDevicesResolved = m_bDevicesResolved && device != nullptr;
            if (device != nullptr) {
                m_Devices.push_back(device);
            }
        }
    }
    Construct();
}

CTestBase::CTestBase(std::list<SCSIDevice*>* devices, long deviceCount, int patternSlot, long threadsPerDevice,
                     long cmdBlocks)
    : m_DeviceCount(static_cast<std::int32_t>(deviceCount)),
      m_ThreadCount(static_cast<std::int32_t>(deviceCount * threadsPerDevice)),
      m_ThreadsPerDevice(static_cast<std::int32_t>(threadsPerDevice)),
      m_CmdBlocks(static_cast<std::int32_t>(cmdBlocks)),
      m_PatternSlot(patternSlot),
      m_hAttention(CreateEventA(nullptr, FALSE, FALSE, nullptr))
{
    if (devices != nullptr) {
        for (SCSIDevice* device : *devices) {
            m_bDevicesResolved = m_bDevicesResolved && device != nullptr;
            if (device != nullptr) {
                m_Devices.push_back(device);
            }
        }
    }
    Construct();
}

void CTestBase::Construct()
{
    if (m_ThreadsPerDevice < 1) {
        GTrace note(kTraceLevel, "Must have at least one thread");
    }
    if (m_DeviceCount < 1) {
        GTrace note(kTraceLevel, "Cannot test less than one device");
    }
    if (static_cast<long>(m_Devices.size()) != m_DeviceCount) {
        GTrace note(kTraceLevel, "Device count doesn't match number of devices");
    }
    m_DevIterator = m_Devices.begin();
    m_NextThread = m_Threads.begin();
    m_pBufAccess = new CTestBufferAccess(this);
}

CTestBase::~CTestBase()
{
    delete m_pBufAccess;
    DeleteBuffers();
    DiscardErrors();
    CloseHandle(m_hAttention);
}

Error_t CTestBase::StartTest(unsigned long startBlock, unsigned long endBlock, long opCount, long blocksPerXfer,
                             long timeLimit)
{
    m_StartBlock = startBlock;
    m_EndBlock = endBlock;
    m_OpCount = static_cast<std::int32_t>(opCount);
    m_BlocksPerXfer = static_cast<std::int32_t>(blocksPerXfer);
    m_TimeLimit = static_cast<std::int32_t>(timeLimit);
    m_Progress = 0;
    if (timeLimit > 0 && opCount > 1) {
        m_TimeLimit = 0;
        return ERR_INVALID_PARAM;
    }
    return ERR_NONE;
}

Error_t CTestBase::StartTest(int percentage, long opCount, long blocksPerXfer, long timeLimit)
{
    m_Percentage = percentage;
    m_OpCount = static_cast<std::int32_t>(opCount);
    m_BlocksPerXfer = static_cast<std::int32_t>(blocksPerXfer);
    m_TimeLimit = static_cast<std::int32_t>(timeLimit);
    m_Progress = 0;
    if (timeLimit > 0 && opCount > 1) {
        m_TimeLimit = 0;
        return ERR_INVALID_PARAM;
    }
    return ERR_NONE;
}

void CTestBase::GetProgressRange(long& low, long& high)
{
    low = static_cast<long>(m_StartBlock);
    high = static_cast<long>(m_EndBlock);
}

unsigned long CTestBase::ThreadSpan() const
{
    const unsigned long span = m_EndBlock > m_StartBlock ? m_EndBlock - m_StartBlock : 0;
    return span / static_cast<unsigned long>(std::max<std::int32_t>(m_ThreadsPerDevice, 1));
}

unsigned long CTestBase::ThreadStartBlock(long threadIndex)
{
    const unsigned long span = m_EndBlock > m_StartBlock ? m_EndBlock - m_StartBlock : 0;
    return static_cast<unsigned long>(threadIndex) * (span / static_cast<unsigned long>(m_ThreadsPerDevice)) +
           m_StartBlock;
}

unsigned long CTestBase::ThreadEndBlock(unsigned long threadStart)
{
    // A device smaller than the start block gets an empty range, not a wrapped one.
    const unsigned long span = m_EndBlock > m_StartBlock ? m_EndBlock - m_StartBlock : 0;
    return threadStart + span / static_cast<unsigned long>(m_ThreadsPerDevice);
}

SCSIDevice* CTestBase::GetFirstDev()
{
    m_DevIterator = m_Devices.begin();
    return GetNextDev();
}

SCSIDevice* CTestBase::GetNextDev()
{
    return m_DevIterator != m_Devices.end() ? *m_DevIterator++ : nullptr;
}

SCSIDevice* CTestBase::GetDevice(long index) const
{
    if (index < 0 || index >= static_cast<long>(m_Devices.size())) {
        return nullptr;
    }
    return *std::next(m_Devices.begin(), index);
}

long CTestBase::GetNumBuffers() const
{
    return static_cast<long>(m_Buffers.size());
}

AlignedBuffer* CTestBase::GetBuffer(long index) const
{
    return index >= 0 && index < GetNumBuffers() ? m_Buffers[static_cast<std::size_t>(index)] : nullptr;
}

CEventBase* CTestBase::GetError()
{
    const std::lock_guard<std::mutex> hold(m_ErrorLock);
    if (m_Errors.empty()) {
        return nullptr;
    }
    CEventBase* event = m_Errors.front();
    m_Errors.pop_front();
    return event;
}

void CTestBase::AddError(CEventBase* event)
{
    if (event == nullptr) {
        return;  // a silent system throws no event
    }
    const std::lock_guard<std::mutex> hold(m_ErrorLock);
    m_Errors.push_back(event);
}

bool CTestBase::HasErrors()
{
    const std::lock_guard<std::mutex> hold(m_ErrorLock);
    return !m_Errors.empty();
}

void CTestBase::DiscardErrors()
{
    const std::lock_guard<std::mutex> hold(m_ErrorLock);
    for (CEventBase* event : m_Errors) {
        delete event;
    }
    m_Errors.clear();
}

void CTestBase::CancelTest()
{
    m_bCancelled = true;
    SetEvent(m_hAttention);
}

void CTestBase::DeleteBuffers()
{
    for (AlignedBuffer* buffer : m_Buffers) {
        delete buffer;
    }
    m_Buffers.clear();
}

Error_t CTestBase::CheckSetup() const
{
    if (!m_bDevicesResolved || m_Devices.empty()) {
        return ERR_NO_DEVICE;
    }
    if (m_ThreadsPerDevice < 1 || static_cast<long>(m_Devices.size()) != m_DeviceCount) {
        return ERR_INVALID_PARAM;
    }
    return ERR_NONE;
}

Error_t CTestBase::RunTest()
{
    m_bStopOnError = true;
    CComputerSystem::Instance()->SetTestActive(true);
    if (Error_t refused = CheckSetup(); refused != ERR_NONE) {
        CComputerSystem::Instance()->SetTestActive(false);
        return refused;
    }
    if (Error_t failed = CreateThreads(); failed != ERR_NONE) {
        return failed;
    }
    m_bRunning = true;
    MonitorThreads();
    if (m_bCancelled) {
        DiscardErrors();
    }
    while (HasErrors()) {
        Sleep(kDrainPollMs);
    }
    m_bRunning = false;
    return ERR_NONE;
}

DWORD RunTest(LPVOID test)
{
    return static_cast<DWORD>(static_cast<CTestBase*>(test)->RunTest());
}

void CTestBase::ApplyAlarms(SCSIDevice* device) const
{
    const CComputerSystem* system = CComputerSystem::Instance();
    if (CPerformanceData* performance = device->GetPerformance(); performance != nullptr) {
        performance->SetAlarms(system->GetSysPerfAlarms());
        performance->SetBlocksPerXfr(m_ThreadBlocksPerXfer);
        performance->ClearAllData();
    }
    if (CErrorInfo* errors = device->GetErrorInfo(); errors != nullptr) {
        const ErrorAlarm_struct limits = system->GetSysErrorAlarms();
        errors->SetSoftErrorAlarm(limits.SoftLimit);
        errors->SetHardErrorAlarm(limits.HardLimit);
    }
}

unsigned long CTestBase::ReserveCtlBlocks(SCSIDevice* device)
{
    if (m_ThreadsPerDevice == 1 && m_CmdBlocks <= 1) {
        return 0;
    }
    // Threads of one device never share a block: each gets its own range.
    const unsigned long perThread = static_cast<unsigned long>(std::max<std::int32_t>(m_CmdBlocks, 1));
    const unsigned long before = device->GetNumCtlBlocks();
    const unsigned long first = device->SetIoCtlBlocks(perThread * static_cast<unsigned long>(m_ThreadsPerDevice));
    const unsigned long added = device->GetNumCtlBlocks() - before;
    if (added > 0) {
        m_AddedCtlBlocks.emplace_back(device, added);
    }
    return first == static_cast<unsigned long>(-1) ? CThreadBase::NO_CTL_BLOCKS : 1;
}

void CTestBase::ReleaseCtlBlocks()
{
    for (const auto& [device, added] : m_AddedCtlBlocks) {
        device->ClearIoCtlBlocks(added);
    }
    m_AddedCtlBlocks.clear();
}

unsigned long CTestBase::FirstCtlBlockOf(unsigned long deviceFirst, long threadIndex) const
{
    if (deviceFirst == CThreadBase::NO_CTL_BLOCKS || deviceFirst == 0) {
        return deviceFirst;
    }
    const unsigned long perThread = static_cast<unsigned long>(std::max<std::int32_t>(m_CmdBlocks, 1));
    return deviceFirst + static_cast<unsigned long>(threadIndex) * perThread;
}

std::uint64_t CTestBase::DeviceEnd(const SCSIDevice& device) const
{
    // A disk whose capacity was never read has no block to test.
    return device.GetBlockLength() == 0 ? 0 : static_cast<std::uint64_t>(device.GetHighBlock()) + 1;
}

std::uint64_t CTestBase::EndFromPercentage(std::uint64_t deviceEnd) const
{
    // A share of the blocks the range may reach, so 100 % takes the last one too.
    // A negative share or one past the device must not wrap: the device's end caps it next.
    const double share = std::max(0.0, std::trunc(m_Percentage / 100.0 * static_cast<double>(deviceEnd)));
    return static_cast<std::uint64_t>(
        std::min(static_cast<double>(m_StartBlock) + share, static_cast<double>(deviceEnd)));
}

std::int32_t CTestBase::BlocksPerCommand(SCSIDevice* device) const
{
    if (m_BlocksPerXfer <= 1) {
        return m_BlocksPerXfer;  // nothing to cut
    }
    auto most = static_cast<std::uint64_t>(m_BlocksPerXfer);
    const unsigned long portBytes = device->GetMaxTransferBytes();
    if (portBytes != 0 && device->GetBlockLength() != 0) {
        most = std::min<std::uint64_t>(most, std::max<std::uint64_t>(portBytes / device->GetBlockLength(), 1));
    }
    if (auto* disk = dynamic_cast<CDisk*>(device); disk != nullptr) {
        if (const unsigned long driveBlocks = disk->MaxTransferBlocks(0); driveBlocks != 0) {
            most = std::min<std::uint64_t>(most, driveBlocks);
        }
    }
    const auto carried = static_cast<std::int32_t>(most);
    if (carried < m_BlocksPerXfer) {
        if (CLogFile* log = CLogFile::Instance(); log != nullptr && CLogFile::IsLoggingOn()) {
            log->LogEvent(new CTransferLimitEvent(device->GetDevAddress(), m_BlocksPerXfer, carried));
        }
    }
    return carried;
}

long CTestBase::BufferBytes(SCSIDevice* device) const
{
    if (m_CustomBufSize > 0) {
        return m_CustomBufSize;
    }
    const long long bytes = static_cast<long long>(m_ThreadBlocksPerXfer) * device->GetBlockLength();
    if (bytes < 0 || bytes > std::numeric_limits<std::int32_t>::max()) {
        throw ERR_INVALID_PARAM;  // no transfer of that size can be made
    }
    return static_cast<long>(bytes);
}

Error_t CTestBase::CreateThreads()
{
    DeleteBuffers();
    m_Buffers.assign(static_cast<std::size_t>(m_DeviceCount) * static_cast<std::size_t>(m_ThreadsPerDevice), nullptr);
    long deviceIndex = 0;
    for (SCSIDevice* device : m_Devices) {
        m_ThreadBlocksPerXfer = BlocksPerCommand(device);
        ApplyAlarms(device);
        const unsigned long deviceFirst = ReserveCtlBlocks(device);
        for (long j = 0; j < m_ThreadsPerDevice; ++j) {
            const std::uint64_t deviceEnd = DeviceEnd(*device);
            if (m_EndBlock == END_FROM_PERCENTAGE) {
                m_EndBlock = EndFromPercentage(deviceEnd);
            }
            m_EndBlock = std::min(m_EndBlock, deviceEnd);
            m_ThreadStartBlock = ThreadStartBlock(j);
            m_ThreadEndBlock = ThreadEndBlock(m_ThreadStartBlock);
            const std::size_t slot = static_cast<std::size_t>(deviceIndex * m_ThreadsPerDevice + j);
            CThreadBase* thread = nullptr;
            try {
                m_Buffers[slot] = new AlignedBuffer(BufferBytes(device));
                thread = MakeAThread(device, m_Buffers[slot]);
            } catch (Error_t code) {
                StopTest();
                CComputerSystem::Instance()->SetTestActive(false);
                // A device the test cannot drive is bad input, not a lack of memory.
                return code == ERR_INVALID_PARAM ? ERR_INVALID_PARAM : ERR_NO_MEMORY;
            }
            thread->SetFirstCtlBlock(FirstCtlBlockOf(deviceFirst, j));
            device->SetTestState(TEST_STATE_RUNNING);
            AddThread(thread);
        }
        ++deviceIndex;
    }
    m_ThreadCount = static_cast<std::int32_t>(m_Threads.size());
    if (m_ThreadCount != m_DeviceCount * m_ThreadsPerDevice) {
        GTrace note(kTraceLevel, "CreateThreads--# of threads running is wrong");
    }
    return ERR_NONE;
}

void CTestBase::AddThread(CThreadBase* thread)
{
    thread->SetAttentionEvent(m_hAttention);
    if (!thread->CreateThread(CREATE_SUSPENDED)) {
        delete thread;  // the system refused it; the test goes on without it
        return;
    }
    m_Threads.push_back(thread);
    thread->SetThreadPriority(THREAD_PRIORITY_NORMAL);
    thread->ResumeThread();
}

CThreadBase* CTestBase::RemoveThread()
{
    if (m_Threads.empty()) {
        return nullptr;
    }
    CThreadBase* thread = m_Threads.front();
    if (m_NextThread == m_Threads.begin()) {
        ++m_NextThread;
    }
    m_Threads.pop_front();
    return thread;
}

CThreadBase* CTestBase::GetNextThread()
{
    if (m_Threads.empty()) {
        return nullptr;
    }
    if (m_NextThread == m_Threads.end()) {
        m_NextThread = m_Threads.begin();
    }
    return *m_NextThread++;
}

void CTestBase::KillThreadsUsingThisDev(SCSIDevice* device)
{
    for (CThreadBase* thread : m_Threads) {
        if (thread->GetDevice() == device) {
            thread->EndTest();
        }
    }
}

void CTestBase::MonitorThreads()
{
    long remaining = m_ThreadCount;
    m_StartTime = std::time(nullptr);
    m_pProgressThread = m_Threads.empty() ? nullptr : m_Threads.front();
    m_NextThread = m_Threads.begin();
    long quietVisits = 0;
    while (remaining > 0) {
        if (VisitThread(GetNextThread())) {
            --remaining;
            quietVisits = 0;
        } else if (++quietVisits >= remaining) {
            // A whole round found nothing to do: sleep until a thread or the client has news.
            WaitForSingleObject(m_hAttention, kIdleRoundMs);
            quietVisits = 0;
        }
    }
    ReleaseCtlBlocks();
    CComputerSystem::Instance()->SetTestActive(false);
}

bool CTestBase::VisitThread(CThreadBase* thread)
{
    if (thread == m_pProgressThread) {
        m_CurrentBlock = thread->GetCurrentBlock();
        m_Progress = thread->GetProgress();
    }
    SCSIDevice* device = thread->GetDevice();
    const CDevAddress address = device->GetDevAddress();
    // Looked at before the errors: a thread hands its last error over before
    // it signals its end, so an end seen here brings every error it had.
    // Looked at after them, an error handed over in between passed the drive.
    const bool finished = WaitForSingleObject(thread->GetFinishedEvent(), 0) == WAIT_OBJECT_0;
    bool endDevice = false;
    bool errorTaken = false;
    if (device->ReadPerformanceAlarmTripped()) {
        AddError(new CAlarmEvent(address, CAlarmEvent::ReadPerformance));
        endDevice = true;
    }
    if (device->WritePerformanceAlarmTripped()) {
        AddError(new CAlarmEvent(address, CAlarmEvent::WritePerformance));
        endDevice = true;
    }
    if (WaitForSingleObject(thread->GetErrorPendingEvent(), 0) == WAIT_OBJECT_0) {
        errorTaken = true;
        QueuePendingErrors(thread);
        if (device->SoftErrorAlarmTripped()) {
            AddError(new CAlarmEvent(address, CAlarmEvent::SoftErrors));
        }
        if (device->HardErrorAlarmTripped()) {
            AddError(new CAlarmEvent(address, CAlarmEvent::HardErrors));
        }
        endDevice = endDevice || m_bStopOnError;
    }
    if (endDevice) {
        SetDeviceState(device, TEST_STATE_FAILED);
        KillThreadsUsingThisDev(device);
        if (errorTaken) {
            SetEvent(thread->GetErrorAckEvent());
        }
        RetireThread(thread);
        return true;
    }
    ClearMsgQueue();
    if (m_bCancelled) {
        SetDeviceState(device, TEST_STATE_ABORTED);
        KillThreadsUsingThisDev(device);
        RetireThread(thread);
        return true;
    }
    if (finished) {
        SetDeviceState(device, TEST_STATE_PASSED);
        RetireThread(thread);
        return true;
    }
    return false;
}

void CTestBase::SetDeviceState(SCSIDevice* device, unsigned long state)
{
    // A device has several threads: one that was ended because another
    // failed must not make the device pass, nor a cancel hide a failure.
    const unsigned long now = device->GetTestState();
    const bool worse = now == TEST_STATE_RUNNING || state == TEST_STATE_FAILED ||
                       (state == TEST_STATE_ABORTED && now != TEST_STATE_FAILED);
    if (worse) {
        device->SetTestState(state);
    }
}

void CTestBase::QueuePendingErrors(CThreadBase* thread)
{
    for (CEventBase* event : thread->TakePendingErrors()) {
        AddError(event);
    }
}

void CTestBase::RetireThread(CThreadBase* thread)
{
    WaitForSingleObject(thread->GetFinishedEvent(), INFINITE);
    WaitForSingleObject(thread->GetThreadHandle(), INFINITE);
    // A thread that finished between the look at its progress and the look at
    // its end would otherwise leave the progress it had before its last steps.
    if (thread == m_pProgressThread) {
        m_CurrentBlock = thread->GetCurrentBlock();
        m_Progress = thread->GetProgress();
    }
    // An error handed over after the last look is still the client's to see.
    QueuePendingErrors(thread);
    auto position = std::find(m_Threads.begin(), m_Threads.end(), thread);
    if (position != m_Threads.end()) {
        if (m_NextThread == position) {
            ++m_NextThread;
        }
        if (m_pProgressThread == thread) {
            const auto next = std::next(position);
            const bool onlyOne = next == m_Threads.end() && position == m_Threads.begin();
            m_pProgressThread = next != m_Threads.end() ? *next : (onlyOne ? nullptr : m_Threads.front());
        }
        m_Threads.erase(position);
    }
    delete thread;
}

Error_t CTestBase::StopTest()
{
    for (CThreadBase* thread : m_Threads) {
        thread->EndTest();
    }
    // Each thread's own event, not the process-wide one another test may take first.
    for (CThreadBase* thread : m_Threads) {
        WaitForSingleObject(thread->GetFinishedEvent(), INFINITE);
    }
    while (CThreadBase* thread = RemoveThread()) {
        WaitForSingleObject(thread->GetThreadHandle(), INFINITE);
        QueuePendingErrors(thread);
        delete thread;
    }
    m_pProgressThread = nullptr;
    m_ThreadCount = 0;
    ReleaseCtlBlocks();
    return ERR_NONE;
}
