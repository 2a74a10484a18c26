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

std::vector<const CBufferMgr*>& LiveManagers()
{
    static std::vector<const CBufferMgr*> managers;
    return managers;
}

}  // namespace

CBufferMgr::CBufferMgr()
{
    std::lock_guard guard(LiveLock());
    LiveManagers().push_back(this);
}

CBufferMgr::~CBufferMgr()
{
    std::lock_guard guard(LiveLock());
    std::erase(LiveManagers(), this);
}

bool CBufferMgr::IsLive(const CBufferMgr* manager)
{
    std::lock_guard guard(LiveLock());
    const auto& managers = LiveManagers();
    return std::find(managers.begin(), managers.end(), manager) != managers.end();
}
