#pragma once

#include "core/types/CEventBase.h"

// A device whose performance or error counts crossed a system-wide alarm.
class CAlarmEvent : public CEventBase {
public:
    enum Kind_t : int {
        ReadPerformance = 1,
        WritePerformance = 2,
        SoftErrors = 3,
        HardErrors = 4,
    };

    CAlarmEvent(const CDevAddress& address, int kind);

    std::string toString() override;
    int GetAlarmKind() const { return m_Kind; }

private:
    int m_Kind;
};
