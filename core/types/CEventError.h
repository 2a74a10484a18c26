#pragma once

#include "core/types/CEventBase.h"
#include "core/types/SenseData.h"

#include <string>

// A failed SCSI command (the SCSI form) or a plain message (the message form).
class CEventError : public CEventBase {
public:
    static constexpr int kMaxCdbBytes = 16;

    // At most 16 CDB bytes are kept; a null sense pointer stores zeroed sense.
    CEventError(const CDevAddress& address, int cdbLength, const unsigned char* cdb, const SCSI_SenseData_s* sense,
                Error_t targetStatus, Error_t haStatus, Error_t srbStatus, Error_t code);
    explicit CEventError(const std::string& message, Error_t code = ERR_DRIVER_FAILURE);
    CEventError(const CEventError&) = default;
    CEventError& operator=(const CEventError&) = default;

    std::string toString() override;

    int GetSenseKey() const { return m_Sense.SenseKey(); }
    int GetASC() const { return m_Sense.Asc(); }
    int GetASQ() const { return m_Sense.Ascq(); }
    SCSI_SenseData_s* GetSenseBytesPtr() { return &m_Sense; }
    Error_t GetTargetStatus() const { return m_TargetStatus; }
    Error_t GetHAStatus() const { return m_HAStatus; }
    Error_t GetSRBStatus() const { return m_SRBStatus; }
    // -1 until something records the failing block.
    long GetBlockNum() const { return m_BlockNum; }
    bool IsHardError() const { return m_bHard; }
    const std::string& GetMessage() const { return m_Message; }
    bool IsScsiForm() const { return m_ScsiForm == 1; }

private:
    std::string ScsiText() const;
    std::string AdditionalBytesText() const;

    bool m_bHard;
    int m_CdbLength = 0;
    unsigned char m_Cdb[kMaxCdbBytes] = {};
    SCSI_SenseData_s m_Sense = {};
    Error_t m_TargetStatus = ERR_NONE;
    Error_t m_HAStatus = ERR_NONE;
    Error_t m_SRBStatus = ERR_NONE;
    long m_BlockNum = -1;
    std::string m_Message;
    int m_ScsiForm;
};
