#include "core/types/CEventBase.h"

CEventBase::CEventBase(Error_t code) : m_Time(std::time(nullptr)), m_Code(code) {}

CEventBase::CEventBase(const CDevAddress& address, Error_t code)
    : m_Time(std::time(nullptr)), m_Address(address), m_Code(code)
{
}

CEventBase::~CEventBase() = default;

std::string CEventBase::TimeText() const
{
    // ctime itself shares one static buffer between threads.
    char text[32];
    if (ctime_r(&m_Time, text) == nullptr) {
        return "\n";
    }
    return text;
}
