#pragma once

#include "core/devices/ScsiCdbRecord.h"
#include "core/tests/CTestBase.h"
#include "core/tests/CThreadBase.h"

// Sends the client's CDB once per thread; data-out commands carry the pattern.
class CUserDefCDBThread : public CThreadBase {
public:
    CUserDefCDBThread(SCSIDevice* device, AlignedBuffer* buffer, int patternSlot, int cmdBlocks,
                      SCSI_Cdb_UserDef16Byte_s* cdb);

    bool InitInstance() override;
    void TestLogic(unsigned long index) override;

private:
    SCSI_Cdb_UserDef16Byte_s* m_pCdb;
};

class CCmdUserDefCDBTest : public CTestBase {
public:
    CCmdUserDefCDBTest(std::list<CDevAddress>* addresses, long deviceCount, int patternSlot, long threadsPerDevice,
                       int cmdBlocks);

    // The record is not copied: the client keeps it alive until the test is over.
    Error_t StartTest(SCSI_Cdb_UserDef16Byte_s* cdb);
    using CTestBase::StartTest;

protected:
    // Throws ERR_INVALID_PARAM when no CDB was given.
    CThreadBase* MakeAThread(SCSIDevice* device, AlignedBuffer* buffer) override;

private:
    SCSI_Cdb_UserDef16Byte_s* m_pCdb = nullptr;
};
