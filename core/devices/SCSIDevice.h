#pragma once

#include "core/devices/InquiryData.h"
#include "core/devices/OrbDevice.h"
#include "core/devices/ScsiCdbRecord.h"
#include "core/devices/ScsiCommand.h"
#include "core/types/CDevAddress.h"
#include "core/types/Error.h"
#include "platform/WinTypes.h"

#include <array>
#include <atomic>
#include <list>
#include <memory>
#include <string>
#include <thread>

class AlignedBuffer;
class CEventBase;
class CScsiIoCtl;

// A generic SCSI logical unit: the commands every SCSI device understands,
// issued through a pool of control blocks. A failed command throws the
// CEventBase* that ProcessError made (null while the system is silent).
class SCSIDevice : public OrbDevice {
public:
    static constexpr unsigned long kMaxCtlBlocks = 256;
    static constexpr unsigned long kTraceLevel = 64;

    SCSIDevice(CHostAdapter* adapter, int adapterNumber, int targetNumber, unsigned long lun);
    SCSIDevice(const SCSIDevice&) = delete;
    SCSIDevice& operator=(const SCSIDevice&) = delete;
    ~SCSIDevice() override;

    virtual CDevAddress GetDevAddress();

    // Takes over what the bus scan learnt of the unit: type, lock, vendor,
    // model and firmware.
    void AdoptIdentity(SCSIDevice& probe);

    // Commands: the block index comes first; an index out of range selects block 0.
    Error_t Inquiry(unsigned long index, AlignedBuffer* buf, long len, int evpd, int page);
    Error_t TestUnitReady(unsigned long index);
    Error_t RequestSense(unsigned long index, AlignedBuffer* buf);
    Error_t SendDiagnostic(unsigned long index, AlignedBuffer* buf, int selfTestCode, int unitOffL, int devOffL,
                           int selfTest, int pf);
    Error_t RecvDiagnosticResults(unsigned long index, AlignedBuffer* buf);
    Error_t ModeSense6(CScsiIoCtl* ctl, AlignedBuffer* buf, long len, int page, int pc, int dbd);
    Error_t ModeSense10(CScsiIoCtl* ctl, AlignedBuffer* buf, long len, int page, int pc, int dbd);
    Error_t ModeSelect6(CScsiIoCtl* ctl, AlignedBuffer* buf, long len, int pf, int sp);
    Error_t ModeSelect10(CScsiIoCtl* ctl, AlignedBuffer* buf, long len, int pf, int sp);
    Error_t LogSense(unsigned long index, AlignedBuffer* buf, int len, int pc, int page, int ppc, int sp);
    Error_t LogSelect(unsigned long index, AlignedBuffer* buf, int len, int pcr, int sp, int pc);
    Error_t ReadBuffer(unsigned long index, long offset, long len, AlignedBuffer* buf, int mode, int bufferId);
    Error_t WriteBuffer(unsigned long index, long offset, long len, AlignedBuffer* buf, int mode, int bufferId);
    Error_t ReportLUNs(unsigned long index, AlignedBuffer* buf);
    Error_t PersistentReserveIn(CScsiIoCtl* ctl, AlignedBuffer* buf, long len, int serviceAction);
    Error_t PersistentReserveOut(CScsiIoCtl* ctl, AlignedBuffer* buf, long len, int serviceAction, int scope,
                                 int type);

    Error_t ModeSense(unsigned long index, AlignedBuffer* buf, long len, int page, int pc, int dbd,
                      eDataHeaderKind_t* kind);
    Error_t ModeSelect(unsigned long index, AlignedBuffer* buf, long len, int pf, int sp, eDataHeaderKind_t kind);
    // The 64-bit identifier of the device identification page. An unexpected
    // page is thrown as a null event.
    Error_t GetGlobalID(LARGE_INTEGER* id);
    // A raw command sent as given; a failure throws the CScsiIoCtl* itself.
    Error_t SCSI_CDB_DANGER(unsigned long index, SCSI_Cdb_UserDef16Byte_s* cdb, AlignedBuffer* buf);
    Error_t SCSI_CDB_DANGER(unsigned long index, SCSI_Cdb_UserDef16Byte_s* cdb, unsigned char* data);

    // Control-block pool.
    unsigned long SetIoCtlBlocks(unsigned long n);
    Error_t ClearIoCtlBlocks(unsigned long n);
    CScsiIoCtl* GetCtlBlock(unsigned long index) const;
    unsigned long GetNumCtlBlocks() const;
    bool SetQueueType(unsigned long index, QTYPE_ENUM type);
    bool SetQueueType(QTYPE_ENUM type);
    bool IsQueuingSupported();
    Error_t IsCommandComplete(int index);
    bool GetIOStatii(unsigned long index, Error_t* srb, Error_t* ha, Error_t* target);
    Error_t SetRetryCmd(unsigned long index);
    Error_t UnSetRetryCmd(unsigned long index);
    bool IsRetryCmd(unsigned long index) const;
    Error_t InitCtlBlkMgr();
    Error_t GetFreeCtlBlkNum(int* num, unsigned long timeoutMs);
    Error_t ReleaseCtlBlkNum(int num);
    void RefreshHandles();
    void ClearAllCtlBlockPerf();
    void UpdatePerformance();

    Error_t Init();
    void SetDevProperties(const SCSI_InquiryData_s* data);
    CEventBase* ProcessError(CScsiIoCtl* ctl);
    void LogCDB(CScsiIoCtl* ctl);
    // Takes the event: the log keeps it or it is deleted.
    void LogError(CEventBase* event);
    void LogDeviceInfo();

protected:
    Error_t DoIo(CScsiIoCtl* ctl);
    // Builds the command (unless the block is armed for a retry) and issues
    // it; argument faults are returned, a failed command thrown as an event.
    Error_t RunCommand(CScsiIoCtl* ctl, const ScsiCommand& command);
    // Byte 1 with the device's LUN in bits 5-7, for devices of SCSI-2 and
    // older only: later command sets give those bits other meanings.
    unsigned char LunBits() const;
    // Adds the event to the soft or hard error count.
    void CountError(const CEventBase* event);

    // While one lives, failures of the creating thread's commands on this
    // device are not counted: a probe or a fallback expects them.
    class ExpectedFailures {
    public:
        explicit ExpectedFailures(SCSIDevice& device);
        ~ExpectedFailures();
        ExpectedFailures(const ExpectedFailures&) = delete;
        ExpectedFailures& operator=(const ExpectedFailures&) = delete;

    private:
        SCSIDevice& m_Device;
        std::thread::id m_Previous;
    };
    // The version its INQUIRY data claims; until then LUN bits are sent.
    void SetAnsiVersion(int version) { m_AnsiVersion = version; }
    int GetAnsiVersion() const { return m_AnsiVersion; }
    static Device_t int2DevType(int type);
    static Interface_t int2InterfaceType(int type);

private:
    static Error_t BuildCommand(CScsiIoCtl* ctl, const ScsiCommand& command);
    Error_t IssueRaw(unsigned long index, const SCSI_Cdb_UserDef16Byte_s& record, void* data, unsigned long capacity);
    Error_t IssueAbsorbingUnitAttn(CScsiIoCtl* ctl);
    static Error_t Settle(CScsiIoCtl* ctl, Error_t status);
    bool ShouldLog() const;
    // The blocks whose counters tests use: 1 to count-1, or block 0 alone.
    unsigned long FirstCountedBlock() const { return m_NumBlocks > 1 ? 1 : 0; }
    Error_t ReadSerialNumber();
    void DropAllBlocks();
    void ForgetFreeBlock(int num);

    HANDLE m_hPoolMutex = nullptr;
    bool m_bPoolReady = false;
    unsigned long m_NumBlocks = 0;
    std::array<std::unique_ptr<CScsiIoCtl>, kMaxCtlBlocks> m_Blocks;
    std::list<int> m_FreeList;
    int m_AnsiVersion = -1;
    std::atomic<std::thread::id> m_ExpectingThread{};
};
