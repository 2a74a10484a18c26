#pragma once

#include "core/types/CEventBase.h"

// A note for the log, not an error: the test moves fewer blocks a command
// on a device than it was asked to, as the device or its port carries no more.
class CTransferLimitEvent : public CEventBase {
public:
    CTransferLimitEvent(const CDevAddress& address, long asked, long carried);

    std::string toString() override;
    long GetAsked() const { return m_Asked; }
    long GetCarried() const { return m_Carried; }

private:
    long m_Asked;
    long m_Carried;
};
