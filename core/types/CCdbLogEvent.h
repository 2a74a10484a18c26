#pragma once

#include "core/types/CEventBase.h"

#include <string>

// A command as the command sets hand it to the log when CDB logging is on.
class CCdbLogEvent : public CEventBase {
public:
    static constexpr int kMaxCdbBytes = 16;

    // At most 16 CDB bytes are kept.
    CCdbLogEvent(const CDevAddress& address, int cdbLength, const unsigned char* cdb);

    std::string toString() override;

private:
    int m_CdbLength = 0;
    unsigned char m_Cdb[kMaxCdbBytes] = {};
};
