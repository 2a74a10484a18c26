#include "core/devices/OrbDevice.h"

#include "core/log/GTrace.h"
#include "core/system/CComputerSystem.h"
#include "core/system/CHostAdapter.h"
#include "core/system/CTarget.h"
#include "core/types/StringPrintf.h"

#include <new>

namespace {

constexpr unsigned long kTraceLevel = 0x10000;

// A device has no children.
class CEmptyIterator final : public CDevTreeIterator {
public:
    bool HasNext() override { return false; }
    CDevTreeNode* Next() override { return nullptr; }
};

}  // namespace

OrbDevice::OrbDevice()
{
    GTrace trace(kTraceLevel, "OrbDevice:Construction, Allocating device resources");
}

OrbDevice::~OrbDevice()
{
    // A copy may still use the shared locks.
    if (OwnsAccountingAlone()) {
        _DeleteCritSects();
    }
}

bool OrbDevice::OwnsAccountingAlone() const
{
    return m_pErrorInfo.use_count() <= 1 && m_pPerformance.use_count() <= 1;
}

void OrbDevice::SetAddress(CHostAdapter* adapter, int adapterNumber, int targetNumber, unsigned long lun)
{
    m_pHostAdapter = adapter;
    m_HANum = adapterNumber;
    m_TargetNum = targetNumber;
    m_Lun = static_cast<std::uint32_t>(lun);
}

bool OrbDevice::AllocateResource()
{
    auto errors = std::shared_ptr<CErrorInfo>(new (std::nothrow) CErrorInfo());
    auto performance = std::shared_ptr<CPerformanceData>(new (std::nothrow) CPerformanceData());
    if (errors == nullptr || performance == nullptr) {
        GTrace trace(kTraceLevel, "Error--Can not allocate memory");
        return false;
    }
    if (OwnsAccountingAlone()) {
        _DeleteCritSects();
    }
    m_bCritSectsReady = false;
    m_pErrorInfo = std::move(errors);
    m_pPerformance = std::move(performance);
    _InitCritSects();
    return true;
}

void OrbDevice::_InitCritSects()
{
    if (!m_bCritSectsReady && m_pErrorInfo != nullptr && m_pPerformance != nullptr) {
        m_pErrorInfo->_InitCritSect();
        m_pPerformance->_InitCritSect();
        m_bCritSectsReady = true;
    }
}

void OrbDevice::_DeleteCritSects()
{
    if (m_bCritSectsReady) {
        m_pErrorInfo->_DeleteCritSect();
        m_pPerformance->_DeleteCritSect();
        m_bCritSectsReady = false;
    }
}

void OrbDevice::SetFlag(unsigned long flag, bool on)
{
    m_Flags = on ? (m_Flags | flag) : (m_Flags & ~flag);
}

unsigned long OrbDevice::SetSilent(bool on)
{
    const unsigned long previous = m_Flags;
    SetFlag(FLAG_SILENT, on);
    return previous;
}

unsigned long OrbDevice::IsSilent() const
{
    if (CComputerSystem::Instance()->IsSilent() != 0) {
        return FLAG_SILENT;
    }
    return m_Flags & FLAG_SILENT;
}

unsigned long OrbDevice::GetMaxTransferBytes() const
{
    return m_pHostAdapter != nullptr ? m_pHostAdapter->GetMaxTransferBytes() : 0;
}

long OrbDevice::BlocksToKBytes(long blocks) const
{
    if (blocks <= 0 || m_BlockLength == 0) {
        return 0;
    }
    // 64-bit product: a large count of large blocks must not wrap.
    return static_cast<long>((static_cast<std::uint64_t>(blocks) * m_BlockLength) >> 10);
}

std::string OrbDevice::GetScsiIDString()
{
    const CTarget* target = m_pHostAdapter != nullptr ? m_pHostAdapter->GetTarget(m_TargetNum) : nullptr;
    if (target != nullptr && target->GetNumLUNs() >= 2) {
        return StringPrintf("LUN %d", static_cast<int>(m_Lun));
    }
    return StringPrintf("Target %d", m_TargetNum);
}

std::string OrbDevice::GetInquiryString()
{
    // Unsigned and full width: a large drive's high block must not show negative.
    return StringPrintf("%s  %s  (%s, %lu)", m_Vendor.c_str(), m_ModelName.c_str(), m_FirmwareVersion.c_str(),
                        static_cast<unsigned long>(m_HighBlock));
}

CDevTreeIterator* OrbDevice::GetChildrenIterator()
{
    return new CEmptyIterator();
}

void OrbDevice::IncSoftErrors()
{
    if (m_pErrorInfo != nullptr) {
        m_pErrorInfo->IncSoftErrors();
    }
}

void OrbDevice::IncHardErrors()
{
    if (m_pErrorInfo != nullptr) {
        m_pErrorInfo->IncHardErrors();
    }
}

void OrbDevice::SetSoftErrorAlarm(long limit)
{
    if (m_pErrorInfo != nullptr) {
        m_pErrorInfo->SetSoftErrorAlarm(limit);
    }
}

void OrbDevice::SetHardErrorAlarm(long limit)
{
    if (m_pErrorInfo != nullptr) {
        m_pErrorInfo->SetHardErrorAlarm(limit);
    }
}

bool OrbDevice::SoftErrorAlarmTripped() const
{
    return m_pErrorInfo != nullptr && m_pErrorInfo->SoftErrorAlarmTripped();
}

bool OrbDevice::HardErrorAlarmTripped() const
{
    return m_pErrorInfo != nullptr && m_pErrorInfo->HardErrorAlarmTripped();
}

void OrbDevice::SetReadPerfAlarm(float threshold, PerfAlarm_t kind)
{
    if (m_pPerformance != nullptr) {
        m_pPerformance->SetReadAlarm(threshold, kind);
    }
}

void OrbDevice::SetWritePerfAlarm(float threshold, PerfAlarm_t kind)
{
    if (m_pPerformance != nullptr) {
        m_pPerformance->SetWriteAlarm(threshold, kind);
    }
}

bool OrbDevice::ReadPerformanceAlarmTripped() const
{
    return m_pPerformance != nullptr && m_pPerformance->ReadAlarmTripped();
}

bool OrbDevice::WritePerformanceAlarmTripped() const
{
    return m_pPerformance != nullptr && m_pPerformance->WriteAlarmTripped();
}
