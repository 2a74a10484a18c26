#pragma once

#include "core/tests/TestRandom.h"
#include "core/types/Error.h"
#include "platform/Kernel.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

class AlignedBuffer;
class CEventBase;
class SCSIDevice;

// The process-wide event every worker sets as its very last action.
HANDLE GetTestFinishedEvent();

// One worker of a test: owns nothing but its events, loops over its block
// range on its own control blocks until it ends itself or is told to end.
// It meets the monitor only through its events.
class CThreadBase {
public:
    // The control blocks were refused: the thread issues no command.
    static constexpr unsigned long NO_CTL_BLOCKS = 0xFFFFFFFF;

    CThreadBase(unsigned long startBlock, unsigned long endBlock, long opCount, long blocksPerXfer,
                SCSIDevice* device, AlignedBuffer* buffer, int patternSlot, int cmdBlocks);
    CThreadBase(const CThreadBase&) = delete;
    CThreadBase& operator=(const CThreadBase&) = delete;
    virtual ~CThreadBase();

    // The framework thread: made suspended, never deleted by its own exit.
    bool CreateThread(DWORD flags);
    DWORD ResumeThread();
    BOOL SetThreadPriority(int priority);
    HANDLE GetThreadHandle() const { return m_hThread; }
    // False sends the thread straight to ExitInstance.
    virtual bool InitInstance();
    virtual int ExitInstance();

    virtual long GetProgress() { return m_Progress; }
    virtual unsigned long GetCurrentBlock() { return m_CurrentBlock; }
    virtual void EndTest();
    virtual Error_t RunTest();
    // One step of the test on control block index.
    virtual void TestLogic(unsigned long index) = 0;
    virtual void UpdatePerformance();
    // Hands the event to the monitor and waits until it is taken or the thread is ended.
    virtual void ProcessError(CEventBase* event);

    HANDLE GetEndEvent() const { return m_hEnd; }
    HANDLE GetFinishedEvent() const { return m_hFinished; }
    HANDLE GetErrorPendingEvent() const { return m_hErrorPending; }
    HANDLE GetErrorAckEvent() const { return m_hErrorAck; }
    SCSIDevice* GetDevice() const { return m_pDevice; }
    // The errors handed over and not yet taken, oldest first; the caller owns them.
    std::list<CEventBase*> TakePendingErrors();

    // Set by the test before the thread runs: its first control block (0,
    // another thread's range, or NO_CTL_BLOCKS) and the monitor's wake-up event.
    void SetFirstCtlBlock(unsigned long first) { m_FirstCtlBlock = first; }
    unsigned long GetFirstCtlBlock() const { return m_FirstCtlBlock; }
    void SetAttentionEvent(HANDLE attention) { m_hAttention = attention; }

    bool IsTestCancelled() const;

protected:
    // Pause of a thread that ends itself, so the monitor sees its last figures.
    static constexpr DWORD END_PAUSE_MS = 100;

    // The data command last issued on one control block of this thread. Each
    // block has a buffer of its own, so commands in flight never share data:
    // a write's data is made before it is issued, a read's is checked only
    // once that very command completed.
    struct Transfer {
        AlignedBuffer* buffer = nullptr;
        std::uint64_t firstBlock = 0;
        std::int32_t blocks = 0;
        bool written = false;
        bool check = false;
        bool outstanding = false;
    };

    // Seeds this thread's sequence: at the start from a newly chosen seed,
    // afterwards (a write-read thread's read pass) from the same seed again.
    void ReseedRandom();
    int NextRandom() { return m_Random.Next(); }
    bool IsDataCompareError(const Transfer& transfer);
    void ProcessDataCompareError(const Transfer& transfer);
    void WaitForCmdCompletion();
    // Fills the test's buffer from a fixed or user pattern.
    void FillFixedPattern();
    // The buffer of the control block's own commands.
    AlignedBuffer* BufferOf(unsigned long index);
    const Transfer& TransferOf(unsigned long index) { return SlotOf(index); }
    // Before a data command at the current block (a retried command keeps
    // what it was issued with): a write gets the pattern in its buffer, a
    // read is remembered for the compare after it completed.
    void PrepareWrite(unsigned long index);
    void PrepareRead(unsigned long index) { PrepareRead(index, m_CurrentBlock, m_BlocksPerXfer); }
    void PrepareRead(unsigned long index, std::uint64_t firstBlock, std::int32_t blocks);
    // Waits until none of this thread's commands is under way, e.g. before
    // blocks written are read back.
    void SettleCommands();
    // A device operation that refused its arguments issued nothing: that is a failure too.
    void Checked(Error_t result);
    // TestLogic with anything a device operation throws handed to ProcessError.
    void RunStep(unsigned long index);
    void RefreshTime() { m_CurrentTime = std::time(nullptr); }
    // Sleeps, but wakes when the thread is ended.
    void Pause(DWORD milliseconds);

    std::uint64_t m_StartBlock;
    std::uint64_t m_EndBlock;
    std::atomic<std::uint64_t> m_CurrentBlock;
    std::int32_t m_OpCounter = 0;
    std::int32_t m_OpCountLimit;
    std::atomic<std::int64_t> m_Progress{0};
    std::uint32_t m_BlockLength;
    std::int32_t m_BlocksPerXfer;
    std::int32_t m_PatternSlot;
    std::time_t m_StartTime = 0;
    std::time_t m_CurrentTime = 0;
    std::int32_t m_CmdBlocks;
    AlignedBuffer* m_pBuffer;
    SCSIDevice* m_pDevice;
    std::int32_t m_CompareByteOffset = 0;
    unsigned char m_ExpectedByte = 0;
    unsigned char m_ActualByte = 0;

private:
    TestRandom::Sequence m_Random;
    unsigned int m_Seed = 0;
    bool m_bSeeded = false;

    static DWORD ThreadEntry(LPVOID self);
    Error_t RunOneAtATime();
    Error_t RunInFlight();
    Transfer& SlotOf(unsigned long index);
    // After a completion: the compare of a read, once.
    void Completed(unsigned long index);
    // Waits for the command of a polled block and takes its outcome.
    void Collect(unsigned long index);
    // Commands still unaccounted for when the loop ends: compared or reported.
    void CollectRemaining();
    // Retries the command on the block as it was built.
    void Reissue(unsigned long index);
    // Control blocks first to first + count - 1 of this thread.
    unsigned long CtlBlockCount() const;
    bool AnyCommandPending();
    void HandOver(CEventBase* event);
    void SignalFinished();

    // Mirrors the end event for the per-step check, which must not cost a kernel-object wait.
    std::atomic<bool> m_bEnded{false};
    HANDLE m_hEnd;
    HANDLE m_hFinished;
    HANDLE m_hErrorPending;
    HANDLE m_hErrorAck;
    HANDLE m_hSpare;  // kept for derived threads of clients; the engine does not use it
    HANDLE m_hThread = nullptr;
    HANDLE m_hAttention = nullptr;
    unsigned long m_FirstCtlBlock = 0;
    // One per control block; the first uses the test's buffer, the others their own.
    std::vector<Transfer> m_Transfers;
    std::vector<std::unique_ptr<AlignedBuffer>> m_OwnBuffers;
    std::atomic<bool> m_bHandedOver{false};
    Error_t m_ExitCode = ERR_NONE;
    std::mutex m_PendingLock;
    std::list<CEventBase*> m_PendingErrors;
};
