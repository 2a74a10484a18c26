#include "core/transport/SCSI_LumenIoCtl.h"

#include "core/log/GTrace.h"
#include "core/transport/CLumenDriver.h"

SCSI_LumenIoCtl::SCSI_LumenIoCtl(const CDevAddress& address, unsigned char blockIndex)
    : CScsiIoCtl(address, blockIndex)
{
    AttachDriver(CLumenDriver::Acquire());
}

SCSI_LumenIoCtl::~SCSI_LumenIoCtl()
{
    if (Driver() != nullptr) {
        Driver()->Release();
    }
}

Error_t SCSI_LumenIoCtl::GetDriverStatus()
{
    return ERR_NONE;
}

unsigned char* SCSI_LumenIoCtl::GetCdb(bool)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: GetCdb");
    return nullptr;
}

Error_t SCSI_LumenIoCtl::SetBuffer(void*, long)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: SetBuffer");
    return ERR_NONE;
}

Error_t SCSI_LumenIoCtl::CompleteCmd(unsigned char, unsigned long, unsigned long, long, unsigned long,
                                     unsigned long, unsigned char)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: Lumen CompleteCmd");
    return ERR_NONE;
}

Error_t SCSI_LumenIoCtl::IsCommandComplete()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: Lumen IsCommandComplete");
    return ERR_NONE;
}

SCSI_SenseData_s* SCSI_LumenIoCtl::GetSenseData()
{
    return nullptr;
}

unsigned char SCSI_LumenIoCtl::GetCdbLen()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: GetCdbLen");
    return 0;
}

void SCSI_LumenIoCtl::FillSRB(void*)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: Lumen FillSRB");
}

bool SCSI_LumenIoCtl::GetIOStatii(Error_t* srbStatus, Error_t* haStatus, Error_t* targetStatus)
{
    if (srbStatus != nullptr) {
        *srbStatus = ERR_DRIVER_IO;
    }
    if (haStatus != nullptr) {
        *haStatus = ERR_DRIVER_IO;
    }
    if (targetStatus != nullptr) {
        *targetStatus = static_cast<Error_t>(-1);
    }
    return true;
}

Error_t SCSI_LumenIoCtl::ProcessError()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: Lumen ProcessError");
    return static_cast<Error_t>(-1);
}
