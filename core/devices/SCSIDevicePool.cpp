#include "core/devices/SCSIDevice.h"

#include "core/log/GTrace.h"
#include "core/system/CHostAdapter.h"
#include "core/transport/CScsiIoCtl.h"
#include "platform/Kernel.h"

#include <algorithm>

namespace {

// Holds the pool mutex for one scope; Locked() tells whether the wait succeeded.
class PoolLock {
public:
    PoolLock(HANDLE mutex, DWORD timeoutMs) : m_Mutex(mutex)
    {
        const DWORD result = mutex != nullptr ? WaitForSingleObject(mutex, timeoutMs) : WAIT_FAILED;
        m_bLocked = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    }
    PoolLock(const PoolLock&) = delete;
    PoolLock& operator=(const PoolLock&) = delete;
    ~PoolLock()
    {
        if (m_bLocked) {
            ReleaseMutex(m_Mutex);
        }
    }
    bool Locked() const { return m_bLocked; }

private:
    HANDLE m_Mutex;
    bool m_bLocked = false;
};

}  // namespace

unsigned long SCSIDevice::SetIoCtlBlocks(unsigned long n)
{
    GTrace trace(kTraceLevel, "SCSIDevice SetIoCtlBlocks");
    if (n == 0) {
        GTrace note(kTraceLevel, "Control blocks requested must be greater than 0");
    }
    if (m_NumBlocks > 0 && GetNumCtlBlocks() >= n) {
        return 1;
    }
    const unsigned long first = m_NumBlocks;
    while (m_NumBlocks < n + 1) {
        if (m_NumBlocks >= kMaxCtlBlocks) {
            GTrace note(kTraceLevel, "Exceeded Control blocks");
            return static_cast<unsigned long>(-1);
        }
        CScsiIoCtl* block = GetHostAdapter() != nullptr
                                ? GetHostAdapter()->CreateIoCtl(GetDevAddress(), static_cast<unsigned char>(m_NumBlocks))
                                : nullptr;
        if (block == nullptr) {
            GTrace note(kTraceLevel, "ScsiIoCtl alloc failed");
            return static_cast<unsigned long>(-1);
        }
        m_Blocks[m_NumBlocks++].reset(block);
    }
    return first;
}

Error_t SCSIDevice::ClearIoCtlBlocks(unsigned long n)
{
    GTrace trace(kTraceLevel, "SCSIDevice ClearIoCtlBlocks");
    for (unsigned long i = 0; i < n; ++i) {
        if (m_NumBlocks <= 1) {
            return ERR_NO_RESOURCE;
        }
        --m_NumBlocks;
        m_Blocks[m_NumBlocks].reset();
        ForgetFreeBlock(static_cast<int>(m_NumBlocks));
    }
    return ERR_NONE;
}

void SCSIDevice::ForgetFreeBlock(int num)
{
    // The pool must never hand out the number of a block that is gone.
    PoolLock lock(m_hPoolMutex, INFINITE);
    m_FreeList.remove(num);
}

void SCSIDevice::DropAllBlocks()
{
    // Slots past the count are always empty, and most devices use one of 256.
    for (unsigned long index = 0; index < m_NumBlocks; ++index) {
        m_Blocks[index].reset();
    }
    m_NumBlocks = 0;
    PoolLock lock(m_hPoolMutex, INFINITE);
    m_FreeList.clear();
    m_bPoolReady = false;
}

CScsiIoCtl* SCSIDevice::GetCtlBlock(unsigned long index) const
{
    return m_Blocks[index < m_NumBlocks ? index : 0].get();
}

unsigned long SCSIDevice::GetNumCtlBlocks() const
{
    return m_NumBlocks > 0 ? m_NumBlocks - 1 : 0;
}

bool SCSIDevice::SetQueueType(unsigned long index, QTYPE_ENUM type)
{
    if (index >= m_NumBlocks || (index == 0 && type != QTYPE_UNTAGGED)) {
        return false;  // block 0 stays untagged
    }
    m_Blocks[index]->SetQueueType(type);
    return true;
}

bool SCSIDevice::SetQueueType(QTYPE_ENUM type)
{
    for (unsigned long index = 1; index < m_NumBlocks; ++index) {
        if (!SetQueueType(index, type)) {
            return false;
        }
    }
    return true;
}

bool SCSIDevice::IsQueuingSupported()
{
    return m_NumBlocks > 0 && m_Blocks[0]->SetQueueType(QTYPE_SIMPLE) == ERR_NONE;
}

Error_t SCSIDevice::IsCommandComplete(int index)
{
    if (index < 0 || static_cast<unsigned long>(index) >= m_NumBlocks) {
        return ERR_INVALID_PARAM;
    }
    return m_Blocks[index]->IsCommandComplete();
}

bool SCSIDevice::GetIOStatii(unsigned long index, Error_t* srb, Error_t* ha, Error_t* target)
{
    return index < m_NumBlocks && m_Blocks[index]->GetIOStatii(srb, ha, target);
}

Error_t SCSIDevice::SetRetryCmd(unsigned long index)
{
    if (CScsiIoCtl* block = GetCtlBlock(index); block != nullptr) {
        block->SetRetryCmd();
    }
    return ERR_NONE;
}

Error_t SCSIDevice::UnSetRetryCmd(unsigned long index)
{
    if (CScsiIoCtl* block = GetCtlBlock(index); block != nullptr) {
        block->UnSetRetryCmd();
    }
    return ERR_NONE;
}

bool SCSIDevice::IsRetryCmd(unsigned long index) const
{
    const CScsiIoCtl* block = GetCtlBlock(index);
    return block != nullptr && block->IsRetryCmd();
}

Error_t SCSIDevice::InitCtlBlkMgr()
{
    if (m_bPoolReady) {
        return ERR_ALREADY_INITIALIZED;
    }
    if (GetNumCtlBlocks() < 2) {
        return ERR_TOO_FEW_CTL_BLOCKS;
    }
    PoolLock lock(m_hPoolMutex, INFINITE);
    m_FreeList.clear();
    for (unsigned long num = 1; num < m_NumBlocks; ++num) {
        m_FreeList.push_back(static_cast<int>(num));
    }
    m_bPoolReady = true;
    return ERR_NONE;
}

Error_t SCSIDevice::GetFreeCtlBlkNum(int* num, unsigned long timeoutMs)
{
    if (num == nullptr) {
        return ERR_INVALID_PARAM;
    }
    *num = -1;
    PoolLock lock(m_hPoolMutex, static_cast<DWORD>(timeoutMs));
    if (!lock.Locked()) {
        return ERR_TIMEOUT;
    }
    if (m_FreeList.empty()) {
        return ERR_NO_FREE_CTL_BLOCK;
    }
    *num = m_FreeList.front();
    m_FreeList.pop_front();
    return ERR_NONE;
}

Error_t SCSIDevice::ReleaseCtlBlkNum(int num)
{
    PoolLock lock(m_hPoolMutex, INFINITE);
    if (!lock.Locked()) {
        return ERR_TIMEOUT;
    }
    // A number handed back twice, or one the pool never had, would give one block to two threads.
    const bool known = m_bPoolReady && num >= 1 && static_cast<unsigned long>(num) < m_NumBlocks;
    if (!known || std::find(m_FreeList.begin(), m_FreeList.end(), num) != m_FreeList.end()) {
        return ERR_INVALID_PARAM;
    }
    m_FreeList.push_back(num);
    return ERR_NONE;
}

void SCSIDevice::RefreshHandles()
{
    for (unsigned long index = 0; index < m_NumBlocks; ++index) {
        m_Blocks[index]->RefreshHandle();
    }
}

void SCSIDevice::ClearAllCtlBlockPerf()
{
    for (unsigned long index = FirstCountedBlock(); index < m_NumBlocks; ++index) {
        m_Blocks[index]->ClearPerfCounters();
    }
}

void SCSIDevice::UpdatePerformance()
{
    CPerformanceData* performance = GetPerformance();
    for (unsigned long index = FirstCountedBlock(); index < m_NumBlocks; ++index) {
        PerfData_t counters{};
        m_Blocks[index]->TakePerfCounters(&counters);
        if (performance != nullptr) {
            if (counters.ReadSeconds > 0) {
                performance->AddReadData(counters.BlocksRead, BlocksToKBytes(counters.BlocksRead),
                                         counters.ReadSeconds, counters.LastReadLba);
            }
            if (counters.WriteSeconds > 0) {
                performance->AddWriteData(counters.BlocksWritten, BlocksToKBytes(counters.BlocksWritten),
                                          counters.WriteSeconds, counters.LastWriteLba);
            }
            if (counters.NoDataSeconds > 0) {
                performance->AddSeekData(counters.LastNoDataLba, counters.NoDataSeconds);
            }
        }
    }
}
