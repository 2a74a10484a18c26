#include "core/system/CHostAdapter.h"

#include "core/log/GTrace.h"
#include "core/system/CTarget.h"
#include "core/transport/CScsiDriver.h"
#include "core/types/CEventError.h"
#include "core/types/StringPrintf.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <vector>

namespace {

constexpr std::size_t kMaxAdapterText = 16;
constexpr long kNarrowDevices = 16;
constexpr long kFibreDevices = 128;
constexpr long kAtapiDevices = 8;

bool StartsWithAtapi(const std::string& text)
{
    static constexpr std::string_view kAtapi = "atapi";
    return text.size() >= kAtapi.size() && std::equal(kAtapi.begin(), kAtapi.end(), text.begin(), [](char a, char b) {
               return a == std::tolower(static_cast<unsigned char>(b));
           });
}

// Targets in ascending number, looked up again as they are handed out.
class CAdapterIterator final : public CDevTreeIterator {
public:
    explicit CAdapterIterator(CHostAdapter& adapter, std::vector<int> numbers)
        : m_Adapter(adapter), m_Numbers(std::move(numbers))
    {
        std::sort(m_Numbers.begin(), m_Numbers.end());
    }
    bool HasNext() override { return m_Next < m_Numbers.size(); }
    CDevTreeNode* Next() override
    {
        return HasNext() ? m_Adapter.GetTarget(m_Numbers[m_Next++]) : nullptr;
    }

private:
    CHostAdapter& m_Adapter;
    std::vector<int> m_Numbers;
    std::size_t m_Next = 0;
};

}  // namespace

CHostAdapter::CHostAdapter(int adapterNumber) : m_AssignedID(adapterNumber) {}

CHostAdapter::~CHostAdapter()
{
    RemoveAllTargets();
    if (m_pDriver != nullptr) {
        m_pDriver->Release();
    }
}

std::string CHostAdapter::GetScsiIDString()
{
    return StringPrintf("Host Adapter %d", GetAssignedID());
}

CDevTreeIterator* CHostAdapter::GetChildrenIterator()
{
    std::vector<int> numbers;
    numbers.reserve(m_Targets.size());
    for (const auto& entry : m_Targets) {
        numbers.push_back(entry.first);
    }
    return new CAdapterIterator(*this, std::move(numbers));
}

Error_t CHostAdapter::AddTarget(CTarget* target)
{
    CTarget*& slot = m_Targets[target->GetTargetNum()];
    if (slot != target) {
        delete slot;
        slot = target;
    }
    return ERR_NONE;
}

CTarget* CHostAdapter::GetTarget(int target) const
{
    const auto found = m_Targets.find(target);
    return found != m_Targets.end() ? found->second : nullptr;
}

void CHostAdapter::RemoveAllTargets()
{
    for (auto& entry : m_Targets) {
        delete entry.second;
    }
    m_Targets.clear();
}

void CHostAdapter::RefreshHandles()
{
    for (auto& entry : m_Targets) {
        entry.second->RefreshHandles();
    }
}

void CHostAdapter::SetType(Interface_t type)
{
    m_Type = type;
    if (type == IF_SCSI) {
        m_DevsSupported = kNarrowDevices;
    } else if (type == IF_FIBRE) {
        m_DevsSupported = kFibreDevices;
    }
}

Error_t CHostAdapter::Inquiry()
{
    if (m_pDriver == nullptr) {
        throw new CEventError("Driver is not installed correctly", ERR_DRIVER_NOT_INSTALLED);
    }
    int targetId = kNoTargetId;
    std::string manager;
    std::string adapter;
    long devices = 0;
    const Error_t result = m_pDriver->AdapterInquiry(GetAssignedID(), &targetId, &manager, &adapter, &devices);
    if (result == ERR_DRIVER_NOT_INSTALLED) {
        throw new CEventError("Driver is not installed correctly (possibly NOXComm.dll missing from path)",
                              ERR_DRIVER_NOT_INSTALLED);
    }
    if (result != ERR_NONE) {
        return result;  // nothing known: the adapter keeps no targets
    }
    ApplyInquiry(targetId, std::move(manager), std::move(adapter), devices, true);
    return ERR_NONE;
}

void CHostAdapter::ApplyInquiry(int targetId, std::string manager, std::string adapter, long devsSupported,
                                bool atapiBranch)
{
    manager.resize(std::min(manager.size(), kMaxAdapterText));
    adapter.resize(std::min(adapter.size(), kMaxAdapterText));
    if (atapiBranch && StartsWithAtapi(manager)) {
        m_DevsSupported = kAtapiDevices;
        m_bATAPI = true;
        m_Type = IF_ATAPI;
    } else {
        GTrace trace(kTraceLevel, "Devs supported %d\n", static_cast<int>(devsSupported));
        // The reported count stands, even where it is not the interface's usual one.
        SetType(devsSupported > kNarrowDevices ? IF_FIBRE : IF_SCSI);
        m_DevsSupported = devsSupported;
    }
    m_HATargetNum = targetId;
    m_ASPIString = std::move(manager);
    m_HAString = std::move(adapter);
}

Error_t CHostAdapter::RescanCommon()
{
    RemoveAllTargets();
    if (m_pDriver != nullptr) {
        m_pDriver->RescanBus(GetAssignedID());
    }
    return Init();
}

Error_t CHostAdapter::Init()
{
    Error_t result = ERR_INIT_FAILED;
    for (int number = 0; number < m_DevsSupported; ++number) {
        if (number == m_HATargetNum) {
            continue;
        }
        if (GetTarget(number) != nullptr) {
            result = ERR_NONE;
            continue;
        }
        auto target = std::make_unique<CTarget>(GetAssignedID(), number);
        if (target->Init(this) != ERR_NONE) {
            continue;
        }
        AddTarget(target.release());
        result = ERR_NONE;
    }
    return result;
}
