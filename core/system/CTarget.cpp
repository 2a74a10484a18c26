#include "core/system/CTarget.h"

#include "core/devices/SCSIDevice.h"
#include "core/system/CGenericDevice.h"
#include "core/system/CHostAdapter.h"
#include "core/system/CMylexRAIDDevice.h"
#include "core/system/TypedDeviceFactory.h"
#include "core/types/StringPrintf.h"

#include <iterator>
#include <memory>

namespace {

constexpr long kDefaultMaxLuns = 8;

// The LUNs in the target's own order: the most recently added first.
class CTargetIterator final : public CDevTreeIterator {
public:
    explicit CTargetIterator(const CTarget::LunList& luns) : m_Position(luns.begin()), m_End(luns.end()) {}
    bool HasNext() override { return m_Position != m_End; }
    CDevTreeNode* Next() override { return HasNext() ? (m_Position++)->second : nullptr; }

private:
    CTarget::LunList::const_iterator m_Position;
    CTarget::LunList::const_iterator m_End;
};

}  // namespace

long CTarget::MAX_LUNS = kDefaultMaxLuns;
bool CTarget::s_LimitChosen = false;

CTarget::CTarget(int adapterNumber, int targetNumber) : m_TargetNumber(targetNumber), m_AdapterNumber(adapterNumber)
{
}

CTarget::~CTarget()
{
    for (auto& entry : m_Luns) {
        delete entry.second;
    }
}

std::string CTarget::GetScsiIDString()
{
    return StringPrintf("Target %d", GetTargetNum());
}

CDevTreeIterator* CTarget::GetChildrenIterator()
{
    return new CTargetIterator(m_Luns);
}

bool CTarget::SetMaxLuns(long n)
{
    if (n <= 0) {
        MAX_LUNS = kDefaultMaxLuns;
        s_LimitChosen = false;
        return false;
    }
    MAX_LUNS = n;
    s_LimitChosen = true;
    return true;
}

Error_t CTarget::AddSCSIDevice(SCSIDevice* device)
{
    const int lun = static_cast<int>(device->GetLUNNum());
    for (auto& entry : m_Luns) {
        if (entry.first == lun) {
            if (entry.second != device) {
                delete entry.second;
                entry.second = device;
            }
            return ERR_NONE;
        }
    }
    m_Luns.emplace_front(lun, device);
    return ERR_NONE;
}

SCSIDevice* CTarget::GetSCSIDevice(int lun) const
{
    for (const auto& entry : m_Luns) {
        if (entry.first == lun) {
            return entry.second;
        }
    }
    return nullptr;
}

SCSIDevice* CTarget::GetNextDevice()
{
    if (m_Luns.empty()) {
        return nullptr;
    }
    if (m_NextDevice >= m_Luns.size()) {
        m_NextDevice = 0;
    }
    return std::next(m_Luns.begin(), static_cast<long>(m_NextDevice++))->second;
}

void CTarget::RefreshHandles()
{
    for (auto& entry : m_Luns) {
        entry.second->RefreshHandles();
    }
}

void CTarget::AddMylexController(CGenericDevice& probe, CHostAdapter* adapter)
{
    auto controller = std::make_unique<CMylexRAIDDevice>(probe);
    controller->Init();  // its own commands, as any LUN's
    CMylexRAIDDevice* added = controller.get();
    AddSCSIDevice(controller.release());
    added->SetUpWithAdapter(adapter);
}

bool CTarget::ProbeLun(CHostAdapter* adapter, unsigned long lun, std::vector<unsigned long>* reported)
{
    if (GetSCSIDevice(static_cast<int>(lun)) != nullptr) {
        return true;
    }
    if (adapter == nullptr || !adapter->MayAnswer(m_TargetNumber, lun)) {
        return false;
    }
    CGenericDevice probe(m_AdapterNumber, m_TargetNumber, lun);
    const Error_t probed = probe.Init(adapter);
    if (reported != nullptr) {
        // Asked even when this LUN holds no usable device: a storage array's
        // controller at LUN 0 still lists the disks behind it.
        *reported = probe.ReportedLuns(static_cast<unsigned long>(kReportedLuns));
    }
    if (probed != ERR_NONE) {
        return false;
    }
    if (probe.GetDevType() == DEV_DISK && MylexRaidCheck(probe) == DEV_RAID_DISK) {
        AddMylexController(probe, adapter);
    } else {
        AddSCSIDevice(BuildTypedDevice(probe).release());
    }
    return true;
}

// The LUNs 0 to MAX_LUNS-1 are probed as they always were; REPORT LUNS adds
// those past them, which no blind probe reaches.
Error_t CTarget::Init(CHostAdapter* adapter)
{
    Error_t result = ERR_INIT_FAILED;
    std::vector<unsigned long> reported;
    for (long lun = 0; lun < MAX_LUNS; ++lun) {
        // A limit set by SetMaxLuns bounds the reported LUNs too: then none is asked for.
        const bool askList = lun == 0 && !s_LimitChosen;
        if (ProbeLun(adapter, static_cast<unsigned long>(lun), askList ? &reported : nullptr)) {
            result = ERR_NONE;
        }
    }
    for (unsigned long lun : reported) {
        if (lun >= static_cast<unsigned long>(MAX_LUNS) && ProbeLun(adapter, lun, nullptr)) {
            result = ERR_NONE;
        }
    }
    return result;
}
