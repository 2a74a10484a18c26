#include "core/system/CComputerSystem.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/devices/SCSIDevice.h"
#include "core/log/CLogFile.h"
#include "core/log/GTrace.h"
#include "core/system/AdapterFactory.h"
#include "core/system/CAMIRAIDChannel.h"
#include "core/system/CHostAdapter.h"
#include "core/system/CNoxHostAdapter.h"
#include "core/system/CTarget.h"
#include "core/types/CEventError.h"
#include "platform/System.h"

#include <memory>

namespace {

constexpr const char* kLabel = "Computer System";

// Host adapters by index.
class CSystemIterator final : public CDevTreeIterator {
public:
    explicit CSystemIterator(const CComputerSystem& system) : m_System(system) {}
    bool HasNext() override { return m_Next < m_System.NumHostAdapters(); }
    CDevTreeNode* Next() override { return HasNext() ? m_System.GetHostAdapter(static_cast<int>(m_Next++)) : nullptr; }

private:
    const CComputerSystem& m_System;
    long m_Next = 0;
};

}  // namespace

CComputerSystem* CComputerSystem::_instance = nullptr;
std::string CComputerSystem::m_ProductRunning;

CComputerSystem* CComputerSystem::Instance()
{
    if (_instance == nullptr) {
        _instance = new CComputerSystem();
    }
    return _instance;
}

void CComputerSystem::Destroy()
{
    if (_instance != nullptr) {
        RegisterProductRunning("");
        delete _instance;
        _instance = nullptr;
    }
}

Error_t CComputerSystem::RegisterProductRunning(const char* name)
{
    m_ProductRunning = name != nullptr ? name : "";
    return ERR_NONE;
}

// The product name registered before the instance exists must survive its construction.
CComputerSystem::CComputerSystem() : m_OsType(DetermineOsType()) {}

CComputerSystem::~CComputerSystem()
{
    DeleteHostAdapters();
    // Only the manager this system registered is taken away.
    if (m_bBufferMgrRegistered) {
        AlignedBuffer::UnregisterBufferMgr();
    }
}

void CComputerSystem::SetFlag(unsigned long flag, bool on)
{
    m_Flags = on ? (m_Flags | flag) : (m_Flags & ~flag);
}

std::string CComputerSystem::GetScsiIDString()
{
    return kLabel;
}

std::string CComputerSystem::GetInquiryString()
{
    return " ";
}

CDevTreeIterator* CComputerSystem::GetChildrenIterator()
{
    return new CSystemIterator(*this);
}

Error_t CComputerSystem::Init(Driver_t driver, BufferMgr_t bufferMgr)
{
    if (m_bInitialized) {
        return ERR_ALREADY_INITIALIZED;
    }
    m_bInitialized = true;
    try {
        SetUpAndScan(driver, bufferMgr);
    } catch (CEventBase* event) {
        if (event != nullptr && IsMissingConfiguration(event->GetErrorCode())) {
            AllowInitAgain();
        }
        throw;
    }
    return ERR_NONE;
}

bool CComputerSystem::IsMissingConfiguration(Error_t code)
{
    return code >= ERR_PRODUCT_NOT_REGISTERED && code <= ERR_NO_DRIVER_CONFIGURED;
}

// The front ends may retry with a fixed transport; that call must find the
// system as a fresh one, not already initialised.
void CComputerSystem::AllowInitAgain()
{
    DeleteHostAdapters();
    if (m_bBufferMgrRegistered) {
        AlignedBuffer::UnregisterBufferMgr();
        m_bBufferMgrRegistered = false;
    }
    SetSilent(false);
    CLogFile::SetLogging(true);
    m_bInitialized = false;
    m_Status = DEV_STATUS_NOT_CONFIGURED;
}

void CComputerSystem::SetUpAndScan(Driver_t driver, BufferMgr_t bufferMgr)
{
    m_PerfAlarms = PerfAlarm_struct{PerfAlarmOff, 0.0F, PerfAlarmOff, 0.0F};
    m_ErrorAlarms = ErrorAlarm_struct{-1, -1};
    m_bTestActive = false;
    m_Flags = 0;
    unsigned long available = 0;
    // A manager that could not be registered gives no space, whatever was registered before.
    if (SetupBufferMgr(bufferMgr) == ERR_NONE) {
        m_bBufferMgrRegistered = true;
        try {
            AlignedBuffer::GetAvailable(&available);
        } catch (Error_t) {
            available = 0;
        }
    }
    if (available == 0) {
        throw new CEventError("There is no buffer available.", ERR_NO_MEMORY);
    }
    ScanSystem(driver);
}

Error_t CComputerSystem::ScanSystem(Driver_t driver)
{
    GTrace trace(kTraceLevel, "Scanning computer system...");
    // Probing absent LUNs fails by design: none of it belongs in the log.
    SetSilent(true);
    CLogFile::SetLogging(false);
    DeleteHostAdapters();
    InitializeHADriverTypes(driver);
    CreateAdapters();
    SetSilent(false);
    CLogFile::SetLogging(true);
    return ERR_NONE;
}

void CComputerSystem::CreateAdapters()
{
    const long plain = m_NumHAs - m_NumRAIDChannels;
    for (long index = 0; index < plain; ++index) {
        StartAdapter(CreateHostAdapter(m_HADriverTypes[static_cast<std::size_t>(index)], static_cast<int>(index)));
    }
    for (long channel = 0; channel < m_NumRAIDChannels; ++channel) {
        StartAdapter(CreateChannelAdapter(m_RaidChannels[static_cast<std::size_t>(channel)],
                                          static_cast<int>(plain + channel)));
    }
}

void CComputerSystem::StartAdapter(CHostAdapter* adapter)
{
    if (adapter == nullptr) {
        return;
    }
    AddHostAdapter(adapter);
    try {
        adapter->Inquiry();
    } catch (CEventBase* event) {
        // The Nox library is an add-on of the maker's own drivers: without
        // it only the Nox adapters go. The user is told, the adapter stays
        // without targets and the scan goes on.
        auto* error = dynamic_cast<CEventError*>(event);
        if (error == nullptr || error->GetErrorCode() != ERR_DRIVER_NOT_INSTALLED ||
            dynamic_cast<CNoxHostAdapter*>(adapter) == nullptr) {
            throw;
        }
        MessageBoxA(nullptr, error->GetMessage().c_str(), "Harrow", MB_OK | MB_ICONERROR);
        delete event;
        return;
    }
    adapter->Rescan();
}

void CComputerSystem::DeleteHostAdapters()
{
    for (CHostAdapter* adapter : m_HostAdapters) {
        delete adapter;
    }
    m_HostAdapters.clear();
}

Error_t CComputerSystem::AddHostAdapter(CHostAdapter* adapter)
{
    GTrace trace(kTraceLevel, "Adding Host Adapter");
    m_HostAdapters.push_back(adapter);
    return ERR_NONE;
}

CHostAdapter* CComputerSystem::GetHostAdapter(int n) const
{
    if (n < 0 || n >= NumHostAdapters()) {
        return nullptr;
    }
    return m_HostAdapters[static_cast<std::size_t>(n)];
}

SCSIDevice* CComputerSystem::GetSCSIDevice(const CDevAddress& address) const
{
    return GetSCSIDevice(address.m_HostAdapter, address.m_Target, address.m_Lun);
}

SCSIDevice* CComputerSystem::GetSCSIDevice(int ha, int target, int lun) const
{
    // A port without a transport gets no adapter object, so the array index
    // and the adapter number part ways after it.
    const CHostAdapter* adapter = nullptr;
    for (CHostAdapter* each : m_HostAdapters) {
        if (each->GetAssignedID() == ha) {
            adapter = each;
            break;
        }
    }
    const CTarget* found = adapter != nullptr ? adapter->GetTarget(target) : nullptr;
    return found != nullptr ? found->GetSCSIDevice(lun) : nullptr;
}

SCSIDevice* CComputerSystem::GetChannelDevice(int controllerPort, int channel, int target, int lun) const
{
    for (CHostAdapter* each : m_HostAdapters) {
        const auto* channelAdapter = dynamic_cast<const CAMIRAIDChannel*>(each);
        if (channelAdapter != nullptr && each->GetAssignedID() == controllerPort &&
            channelAdapter->GetChannel() == channel) {
            const CTarget* found = each->GetTarget(target);
            return found != nullptr ? found->GetSCSIDevice(lun) : nullptr;
        }
    }
    return nullptr;
}

void CComputerSystem::ReloadDeviceHandles()
{
    for (CHostAdapter* adapter : m_HostAdapters) {
        adapter->RefreshHandles();
    }
}

bool CComputerSystem::SetThreadMode(ThreadMode_t mode)
{
    GTrace trace(kTraceLevel, "Setting Thread Mode");
    if (mode == THREAD_SINGLE) {
        m_ThreadMode = THREAD_SINGLE;
        return true;
    }
    m_ThreadMode = HasMultiModule() ? THREAD_MULTI : THREAD_SINGLE;
    return m_ThreadMode == THREAD_MULTI;
}
