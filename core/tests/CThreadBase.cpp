#include "core/tests/CThreadBase.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/devices/SCSIDevice.h"
#include "core/log/GTrace.h"
#include "core/tests/CBufferPatternSystem.h"
#include "core/tests/CDataCompareEvent.h"
#include "core/tests/TestRandom.h"
#include "core/transport/CScsiIoCtl.h"
#include "core/types/CEventError.h"
#include "core/types/StringPrintf.h"

#include <algorithm>
#include <exception>
#include <thread>

namespace {

constexpr unsigned long kTraceLevel = 0x8000;
constexpr DWORD kErrorPauseMs = 250;
constexpr DWORD kCompletionPollMs = 10;

}  // namespace

HANDLE GetTestFinishedEvent()
{
    static const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return event;
}

// Made while the library loads, as clients may wait on it before any test ran.
[[maybe_unused]] static const HANDLE g_TestFinishedAtLoad = GetTestFinishedEvent();

CThreadBase::CThreadBase(unsigned long startBlock, unsigned long endBlock, long opCount, long blocksPerXfer,
                         SCSIDevice* device, AlignedBuffer* buffer, int patternSlot, int cmdBlocks)
    : m_StartBlock(startBlock),
      m_EndBlock(endBlock),
      m_CurrentBlock(startBlock),
      m_OpCountLimit(static_cast<std::int32_t>(opCount)),
      m_BlockLength(device != nullptr ? static_cast<std::uint32_t>(device->GetBlockLength()) : 0),
      m_BlocksPerXfer(static_cast<std::int32_t>(blocksPerXfer)),
      m_PatternSlot(patternSlot),
      m_CmdBlocks(cmdBlocks),
      m_pBuffer(buffer),
      m_pDevice(device),
      m_hEnd(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_hFinished(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_hErrorPending(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      m_hErrorAck(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      m_hSpare(CreateEventA(nullptr, FALSE, FALSE, nullptr))
{
    if (device == nullptr) {
        GTrace note(kTraceLevel, "Null device passed to thread base constructor");
    }
    m_Transfers.resize(CtlBlockCount());
    m_Transfers[0].buffer = buffer;
    for (std::size_t slot = 1; slot < m_Transfers.size() && buffer != nullptr; ++slot) {
        // An allocation failure throws Error_t, which the test turns into ERR_NO_MEMORY.
        m_OwnBuffers.push_back(std::make_unique<AlignedBuffer>(static_cast<long>(buffer->Size())));
        m_Transfers[slot].buffer = m_OwnBuffers.back().get();
    }
}

CThreadBase::~CThreadBase()
{
    for (CEventBase* event : m_PendingErrors) {
        delete event;
    }
    for (HANDLE handle : {m_hThread, m_hEnd, m_hFinished, m_hErrorPending, m_hErrorAck, m_hSpare}) {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
}

bool CThreadBase::CreateThread(DWORD flags)
{
    try {
        m_hThread = ::CreateThread(nullptr, 0, ThreadEntry, this, flags, nullptr);
    } catch (const std::exception&) {
        m_hThread = nullptr;  // the system has no thread to give
    }
    return m_hThread != nullptr;
}

DWORD CThreadBase::ResumeThread()
{
    return ::ResumeThread(m_hThread);
}

BOOL CThreadBase::SetThreadPriority(int priority)
{
    return ::SetThreadPriority(m_hThread, priority);
}

DWORD CThreadBase::ThreadEntry(LPVOID self)
{
    auto* thread = static_cast<CThreadBase*>(self);
    thread->InitInstance();
    thread->ExitInstance();
    const Error_t code = thread->m_ExitCode;
    // Whether or not the loop ran, the monitor must learn that the thread is done.
    thread->SignalFinished();
    return static_cast<DWORD>(code);
}

bool CThreadBase::InitInstance()
{
    return false;
}

int CThreadBase::ExitInstance()
{
    return static_cast<int>(m_ExitCode);
}

void CThreadBase::SignalFinished()
{
    const HANDLE attention = m_hAttention;
    SetEvent(m_hFinished);
    if (attention != nullptr) {
        SetEvent(attention);
    }
    SetEvent(GetTestFinishedEvent());
}

void CThreadBase::EndTest()
{
    m_bEnded = true;
    SetEvent(m_hEnd);
}

bool CThreadBase::IsTestCancelled() const
{
    return m_bEnded;
}

void CThreadBase::Pause(DWORD milliseconds)
{
    WaitForSingleObject(m_hEnd, harrow::platform::ScaledMilliseconds(milliseconds));
}

void CThreadBase::ReseedRandom()
{
    GTrace trace(kTraceLevel, "Reset Random Generator");
    if (!m_bSeeded) {
        m_Seed = TestRandom::ChooseSeed();
        m_bSeeded = true;
    }
    m_Random.Seed(m_Seed);
}

Error_t CThreadBase::RunTest()
{
    ReseedRandom();
    m_Progress = 0;
    m_CurrentBlock = m_StartBlock;
    m_StartTime = m_CurrentTime = std::time(nullptr);
    m_ExitCode = m_CmdBlocks <= 1 ? RunOneAtATime() : RunInFlight();
    return m_ExitCode;
}

Error_t CThreadBase::RunOneAtATime()
{
    if (m_FirstCtlBlock == NO_CTL_BLOCKS) {
        return ERR_NO_RESOURCE;
    }
    while (!IsTestCancelled()) {
        RunStep(m_FirstCtlBlock);
        Collect(m_FirstCtlBlock);
        UpdatePerformance();
    }
    CollectRemaining();
    return ERR_NONE;
}

Error_t CThreadBase::RunInFlight()
{
    if (m_FirstCtlBlock == NO_CTL_BLOCKS) {
        return ERR_NO_RESOURCE;
    }
    const unsigned long first = m_FirstCtlBlock;
    const unsigned long last = first + CtlBlockCount();
    Error_t status = ERR_NONE;
    while (!IsTestCancelled()) {
        for (unsigned long i = first; i < last && !IsTestCancelled(); ++i) {
            status = m_pDevice->IsCommandComplete(static_cast<int>(i));
            if (status == ERR_NONE) {
                RunStep(i);
            } else if (status == ERR_CMD_NOT_STARTED || status == ERR_SK_UNIT_ATTENTION || status == ERR_BUS_RESET) {
                Reissue(i);
            } else if (status == ERR_CMD_COMPLETE) {
                UpdatePerformance();
                Completed(i);
                if (!IsTestCancelled()) {
                    RunStep(i);
                }
            } else if (status != ERR_CMD_PENDING) {
                WaitForCmdCompletion();
                SlotOf(i).outstanding = false;
                ProcessError(m_pDevice->GetCtlBlock(i)->GetErrorEvent());
                break;
            }
        }
        std::this_thread::yield();
    }
    WaitForCmdCompletion();
    CollectRemaining();
    return status;
}

void CThreadBase::Reissue(unsigned long index)
{
    m_pDevice->SetRetryCmd(index);
    RunStep(index);
    m_pDevice->UnSetRetryCmd(index);
}

CThreadBase::Transfer& CThreadBase::SlotOf(unsigned long index)
{
    const unsigned long first = m_FirstCtlBlock == NO_CTL_BLOCKS ? 0 : m_FirstCtlBlock;
    const unsigned long slot = index >= first ? index - first : 0;
    return m_Transfers[slot < m_Transfers.size() ? slot : 0];
}

AlignedBuffer* CThreadBase::BufferOf(unsigned long index)
{
    return SlotOf(index).buffer;
}

void CThreadBase::PrepareWrite(unsigned long index)
{
    if (m_pDevice->IsRetryCmd(index)) {
        return;
    }
    Transfer& transfer = SlotOf(index);
    transfer.firstBlock = m_CurrentBlock;
    transfer.blocks = m_BlocksPerXfer;
    transfer.written = true;
    transfer.check = false;
    transfer.outstanding = true;
    CBufferPatternSystem* patterns = CBufferPatternSystem::Instance();
    if (patterns->GetPatternType(m_PatternSlot) == PatternBlockNumbers) {
        patterns->FillBuffer(m_PatternSlot, transfer.buffer, transfer.firstBlock, m_BlockLength,
                             static_cast<unsigned long>(transfer.blocks));
    } else {
        // Again before every write: a read into this buffer may have changed it.
        patterns->FillBuffer(m_PatternSlot, transfer.buffer);
    }
}

void CThreadBase::PrepareRead(unsigned long index, std::uint64_t firstBlock, std::int32_t blocks)
{
    if (m_pDevice->IsRetryCmd(index)) {
        return;
    }
    Transfer& transfer = SlotOf(index);
    transfer.firstBlock = firstBlock;
    transfer.blocks = blocks;
    transfer.written = false;
    transfer.check = CBufferPatternSystem::IsDataCompareOn();
    transfer.outstanding = true;
}

void CThreadBase::Completed(unsigned long index)
{
    Transfer& transfer = SlotOf(index);
    if (!transfer.outstanding) {
        return;
    }
    transfer.outstanding = false;
    if (transfer.check && IsDataCompareError(transfer)) {
        ProcessDataCompareError(transfer);
    }
}

void CThreadBase::Collect(unsigned long index)
{
    Error_t status = m_pDevice->IsCommandComplete(static_cast<int>(index));
    if (status != ERR_CMD_PENDING) {
        // Finished inside the step: a failure was thrown there and handed over.
        if (status == ERR_CMD_COMPLETE) {
            Completed(index);
        }
        return;
    }
    while (status == ERR_CMD_PENDING) {
        std::this_thread::yield();
        status = m_pDevice->IsCommandComplete(static_cast<int>(index));
    }
    if (status == ERR_CMD_COMPLETE) {
        Completed(index);
    } else if (status == ERR_CMD_NOT_STARTED || status == ERR_SK_UNIT_ATTENTION || status == ERR_BUS_RESET) {
        Reissue(index);
        Collect(index);
    } else {
        SlotOf(index).outstanding = false;
        ProcessError(m_pDevice->GetCtlBlock(index)->GetErrorEvent());
    }
}

void CThreadBase::CollectRemaining()
{
    if (m_FirstCtlBlock == NO_CTL_BLOCKS) {
        return;
    }
    for (unsigned long i = m_FirstCtlBlock; i < m_FirstCtlBlock + CtlBlockCount(); ++i) {
        if (!SlotOf(i).outstanding) {
            continue;
        }
        const Error_t status = m_pDevice->IsCommandComplete(static_cast<int>(i));
        if (status == ERR_CMD_COMPLETE) {
            Completed(i);
        } else if (status != ERR_CMD_NOT_STARTED && !m_bHandedOver) {
            // The last commands of a range fail as surely as the first ones.
            SlotOf(i).outstanding = false;
            ProcessError(m_pDevice->GetCtlBlock(i)->GetErrorEvent());
        }
    }
}

void CThreadBase::SettleCommands()
{
    WaitForCmdCompletion();
}

unsigned long CThreadBase::CtlBlockCount() const
{
    return m_CmdBlocks > 1 ? static_cast<unsigned long>(m_CmdBlocks) : 1;
}

bool CThreadBase::AnyCommandPending()
{
    for (unsigned long i = m_FirstCtlBlock; i < m_FirstCtlBlock + CtlBlockCount(); ++i) {
        if (m_pDevice->IsCommandComplete(static_cast<int>(i)) == ERR_CMD_PENDING) {
            return true;
        }
    }
    return false;
}

void CThreadBase::WaitForCmdCompletion()
{
    if (m_FirstCtlBlock == NO_CTL_BLOCKS) {
        return;
    }
    while (AnyCommandPending()) {
        Sleep(kCompletionPollMs);
    }
}

void CThreadBase::RunStep(unsigned long index)
{
    try {
        TestLogic(index);
    } catch (CEventBase* event) {
        SlotOf(index).outstanding = false;
        ProcessError(event);
    } catch (CScsiIoCtl* ctl) {
        SlotOf(index).outstanding = false;
        ProcessError(ctl->GetErrorEvent());
    } catch (Error_t code) {
        SlotOf(index).outstanding = false;
        ProcessError(new CEventError("Test step failed", code));
    }
}

void CThreadBase::UpdatePerformance()
{
    m_pDevice->UpdatePerformance();
}

void CThreadBase::ProcessError(CEventBase* event)
{
    HandOver(event);
}

void CThreadBase::HandOver(CEventBase* event)
{
    m_bHandedOver = true;
    {
        const std::lock_guard<std::mutex> hold(m_PendingLock);
        m_PendingErrors.push_back(event);
    }
    SetEvent(m_hErrorPending);
    if (m_hAttention != nullptr) {
        SetEvent(m_hAttention);
    }
    // Ended any other way (cancel, StopTest), the thread must not wait for an acknowledgement.
    const HANDLE released[2] = {m_hErrorAck, m_hEnd};
    WaitForMultipleObjects(2, released, FALSE, INFINITE);
    Pause(kErrorPauseMs);
}

std::list<CEventBase*> CThreadBase::TakePendingErrors()
{
    const std::lock_guard<std::mutex> hold(m_PendingLock);
    std::list<CEventBase*> taken;
    taken.swap(m_PendingErrors);
    return taken;
}

bool CThreadBase::IsDataCompareError(const Transfer& transfer)
{
    CBufferPatternSystem* patterns = CBufferPatternSystem::Instance();
    const long bytes = static_cast<long>(std::max<std::int32_t>(transfer.blocks, 0)) * static_cast<long>(m_BlockLength);
    if (transfer.buffer == nullptr || static_cast<unsigned long>(bytes) > transfer.buffer->Size()) {
        return false;
    }
    // Only what the command read: the rest of the buffer holds older data.
    AlignedBuffer read(static_cast<unsigned char*>(transfer.buffer->Ptr()), bytes);
    int offset = 0;
    // Block numbers also tell where they differ, or the event would show a stale byte.
    const bool same = patterns->GetPatternType(m_PatternSlot) == PatternBlockNumbers
                          ? patterns->CheckPatternToBlockNums(&read, transfer.firstBlock, m_BlockLength,
                                                              static_cast<unsigned long>(transfer.blocks), offset,
                                                              m_ExpectedByte, m_ActualByte)
                          : patterns->CompareData(m_PatternSlot, &read, offset, m_ExpectedByte, m_ActualByte);
    if (!same) {
        m_CompareByteOffset = offset;
    }
    return !same;
}

void CThreadBase::ProcessDataCompareError(const Transfer& transfer)
{
    std::uint64_t block = transfer.firstBlock;
    long offset = m_CompareByteOffset;
    if (m_BlockLength != 0) {
        block += static_cast<std::uint64_t>(offset) / m_BlockLength;
        offset = static_cast<long>(static_cast<unsigned long>(offset) % m_BlockLength);
    }
    m_pDevice->IncHardErrors();
    const CDevAddress address = m_pDevice->GetDevAddress();
    m_pDevice->LogError(new CDataCompareEvent(address, block, offset, m_ExpectedByte, m_ActualByte));
    HandOver(new CDataCompareEvent(address, block, offset, m_ExpectedByte, m_ActualByte));
}

void CThreadBase::FillFixedPattern()
{
    CBufferPatternSystem* patterns = CBufferPatternSystem::Instance();
    if (patterns->GetPatternType(m_PatternSlot) != PatternBlockNumbers) {
        patterns->FillBuffer(m_PatternSlot, m_pBuffer);
    }
}

void CThreadBase::Checked(Error_t result)
{
    if (result != ERR_NONE) {
        throw static_cast<CEventBase*>(new CEventError(
            StringPrintf("Device %d:%d:%d refused a test command (0x%08X)", m_pDevice->GetHANum(),
                         m_pDevice->GetTargetNum(), static_cast<int>(m_pDevice->GetLUNNum()),
                         static_cast<unsigned>(result)),
            result));
    }
}
