#include "core/transport/CAMIRAIDDriver.h"

#include <cstring>

namespace {

constexpr std::size_t kIdentityBytes = 257;

template <class Fn>
Fn Entry(HMODULE library, const char* name)
{
    return reinterpret_cast<Fn>(GetProcAddress(library, name));
}

}  // namespace

CAMIRAIDDriver::CAMIRAIDDriver()
{
    Init();
}

CAMIRAIDDriver::~CAMIRAIDDriver()
{
    Free();
}

Error_t CAMIRAIDDriver::RescanBus(int)
{
    return ERR_NONE;
}

Error_t CAMIRAIDDriver::Send(HANDLE, void* request)
{
    if (request == nullptr) {
        return ERR_NONE;
    }
    auto* block = static_cast<AmiRaidRequest_s*>(request);
    // Without the plug-in no command reaches a controller.
    block->Result = m_DoCommand != nullptr ? m_DoCommand(&block->Request) : ERR_DRIVER_FAILURE;
    return static_cast<Error_t>(block->Result);
}

bool CAMIRAIDDriver::WaitDone(void*)
{
    return true;
}

Error_t CAMIRAIDDriver::GetCompletion(void*, bool)
{
    return ERR_NONE;
}

long CAMIRAIDDriver::AdapterCount()
{
    int count = 0;
    if (m_AdapterCount == nullptr || m_AdapterCount(&count) != ERR_NONE) {
        return 0;
    }
    return count;
}

Error_t CAMIRAIDDriver::AdapterInquiry(int adapter, int* adapterTargetId, std::string* managerString,
                                       std::string* adapterString, long* devsSupported)
{
    if (m_HaInquiry == nullptr) {
        return ERR_DRIVER_FAILURE;
    }
    char channels = 0;
    char identity[kIdentityBytes] = {};
    char ownId = 0;
    const auto result = static_cast<Error_t>(m_HaInquiry(adapter, &channels, identity, &ownId));
    *managerString = "";
    *adapterTargetId = static_cast<unsigned char>(ownId);
    *adapterString = std::string(identity, strnlen(identity, sizeof identity));
    *devsSupported = kDevsSupported;
    return result;
}

HANDLE CAMIRAIDDriver::GetDeviceHandle(const CDevAddress&)
{
    return nullptr;
}

Error_t CAMIRAIDDriver::Init()
{
    if (m_hLibrary != nullptr) {
        return ERR_ALREADY_INITIALIZED;
    }
    m_hLibrary = LoadLibraryA(kLibraryName);
    if (m_hLibrary == nullptr) {
        return ERR_DRIVER_FAILURE;
    }
    m_DoCommand = Entry<DoCommandFn>(m_hLibrary, "DoCommand");
    m_AdapterCount = Entry<AdapterCountFn>(m_hLibrary, "AdapterCount");
    m_GetDevType = Entry<GetDevTypeFn>(m_hLibrary, "GetDevType");
    m_HaInquiry = Entry<HaInquiryFn>(m_hLibrary, "HaInquiry");
    if (m_DoCommand == nullptr) {
        Free();
        return ERR_DRIVER_FAILURE;
    }
    return ERR_NONE;
}

Error_t CAMIRAIDDriver::Free()
{
    if (m_hLibrary != nullptr) {
        FreeLibrary(m_hLibrary);
    }
    m_hLibrary = nullptr;
    m_DoCommand = nullptr;
    m_AdapterCount = nullptr;
    m_GetDevType = nullptr;
    m_HaInquiry = nullptr;
    return ERR_NONE;
}
