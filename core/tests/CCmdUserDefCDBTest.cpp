#include "core/tests/CCmdUserDefCDBTest.h"

#include "core/devices/SCSIDevice.h"
#include "core/transport/CScsiIoCtl.h"
#include "core/types/CEventBase.h"

CUserDefCDBThread::CUserDefCDBThread(SCSIDevice* device, AlignedBuffer* buffer, int patternSlot, int cmdBlocks,
                                     SCSI_Cdb_UserDef16Byte_s* cdb)
    : CThreadBase(0, 0, 0, 0, device, buffer, patternSlot, cmdBlocks), m_pCdb(cdb)
{
    FillFixedPattern();
}

bool CUserDefCDBThread::InitInstance()
{
    m_StartTime = std::time(nullptr);
    RunTest();
    return false;
}

void CUserDefCDBThread::TestLogic(unsigned long index)
{
    try {
        m_pDevice->SCSI_CDB_DANGER(index, m_pCdb, m_pBuffer);
    } catch (CEventBase* event) {
        ProcessError(event);
    } catch (CScsiIoCtl* ctl) {
        ProcessError(ctl->GetErrorEvent());
    }
    Pause(kEndPauseMs);
    EndTest();
}

CCmdUserDefCDBTest::CCmdUserDefCDBTest(std::list<CDevAddress>* addresses, long deviceCount, int patternSlot,
                                       long threadsPerDevice, int cmdBlocks)
    : CTestBase(addresses, deviceCount, patternSlot, threadsPerDevice, cmdBlocks)
{
}

Error_t CCmdUserDefCDBTest::StartTest(SCSI_Cdb_UserDef16Byte_s* cdb)
{
    if (cdb == nullptr) {
        return ERR_INVALID_PARAM;
    }
    m_pCdb = cdb;
    SetCustomBufSize(static_cast<long>(cdb->DataLength));
    return ERR_NONE;
}

CThreadBase* CCmdUserDefCDBTest::MakeAThread(SCSIDevice* device, AlignedBuffer* buffer)
{
    if (m_pCdb == nullptr) {
        throw ERR_INVALID_PARAM;
    }
    return new CUserDefCDBThread(device, buffer, m_PatternSlot, m_CmdBlocks, m_pCdb);
}
