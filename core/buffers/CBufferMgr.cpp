#include "core/buffers/CBufferMgr.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

std::mutex& LiveLock()
{
    static std::mutex lock;
    return lock;
}

std::vector<std::uint64_t>& LiveSerials()
{
    static std::vector<std::uint64_t> serials;
    return serials;
}

}  // namespace

CBufferMgr::CBufferMgr()
{
    static std::uint64_t lastSerial = 0;
    std::lock_guard guard(LiveLock());
    m_Serial = ++lastSerial;
    LiveSerials().push_back(m_Serial);
}

CBufferMgr::~CBufferMgr()
{
    std::lock_guard guard(LiveLock());
    std::erase(LiveSerials(), m_Serial);
}

bool CBufferMgr::IsLive(std::uint64_t serial)
{
    std::lock_guard guard(LiveLock());
    const auto& serials = LiveSerials();
    return std::find(serials.begin(), serials.end(), serial) != serials.end();
}
