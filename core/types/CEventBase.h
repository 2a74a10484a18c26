#pragma once

#include "core/types/CDevAddress.h"
#include "core/types/Error.h"

#include <ctime>
#include <string>

// A failure report. Events are thrown as CEventBase*, and whoever holds one
// last (usually the log file) deletes it.
class CEventBase {
public:
    virtual ~CEventBase();
    virtual std::string toString() = 0;

    std::time_t GetTime() const { return m_Time; }
    const CDevAddress& GetDevAddress() const { return m_Address; }
    Error_t GetErrorCode() const { return m_Code; }

protected:
    // Stamped with the current time; no address unless given.
    explicit CEventBase(Error_t code = ERR_DRIVER_FAILURE);
    CEventBase(const CDevAddress& address, Error_t code);
    CEventBase(const CEventBase&) = default;
    CEventBase& operator=(const CEventBase&) = default;

    // The event time as ctime writes it, newline included.
    std::string TimeText() const;

    std::time_t m_Time;
    CDevAddress m_Address;
    Error_t m_Code;
};
