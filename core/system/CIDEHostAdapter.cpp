#include "core/system/CIDEHostAdapter.h"

#include "core/system/AspiDriverSource.h"
#include "core/system/CComputerSystem.h"
#include "core/system/RegKey.h"
#include "core/transport/CScsiDriver.h"

#include <cstring>
#include <string>

namespace {

constexpr DWORD kNameBytes = 260;
constexpr const char* kDeviceMap = "HARDWARE\\DEVICEMAP\\Scsi";

}  // namespace

CIDEHostAdapter::CIDEHostAdapter(int adapterNumber) : CHostAdapter(adapterNumber) {}

CScsiIoCtl* CIDEHostAdapter::CreateIoCtl(const CDevAddress&, unsigned char)
{
    return nullptr;
}

Error_t CIDEHostAdapter::Inquiry()
{
    const OsType_t os = CComputerSystem::Instance()->GetOSVersion();
    if (IsWin9xFamily(os)) {
        return InquiryThroughAspi();
    }
    if (IsNtFamily(os)) {
        return InquiryFromDeviceMap();
    }
    return ERR_DRIVER_IO;
}

Error_t CIDEHostAdapter::InquiryThroughAspi()
{
    CScsiDriver* aspi = AcquireAspiDriver();
    if (aspi == nullptr) {
        return ERR_DRIVER_NOT_INSTALLED;
    }
    int targetId = kNoTargetId;
    std::string manager;
    std::string adapter;
    long devices = 0;
    const Error_t result = aspi->AdapterInquiry(GetAssignedID(), &targetId, &manager, &adapter, &devices);
    aspi->Release();
    if (result != ERR_NONE) {
        return result;
    }
    SetDevsSupported(devices);
    SetATAPIInvalid();
    SetHATargetNum(targetId);
    SetType(IF_ATAPI);
    SetASPIString(manager);
    SetHAString(adapter);
    return ERR_NONE;
}

Error_t CIDEHostAdapter::InquiryFromDeviceMap()
{
    RegKey map;
    if (map.Open(HKEY_LOCAL_MACHINE, kDeviceMap) != ERROR_SUCCESS) {
        return ERR_REGISTRY_ACCESS;
    }
    char portName[kNameBytes] = {};
    DWORD portNameSize = kNameBytes;
    RegKey port;
    if (RegEnumKeyExA(map.Get(), static_cast<DWORD>(GetAssignedID()), portName, &portNameSize, nullptr, nullptr,
                      nullptr, nullptr) != ERROR_SUCCESS ||
        port.Open(map.Get(), portName) != ERROR_SUCCESS) {
        return ERR_REGISTRY_ACCESS;
    }
    DWORD values = 0;
    if (!port.QueryCounts(nullptr, &values)) {
        return ERR_REGISTRY_ACCESS;
    }
    std::string driver;
    for (DWORD index = 0; index < values; ++index) {
        char name[kNameBytes] = {};
        DWORD nameSize = kNameBytes;
        BYTE data[kNameBytes] = {};
        DWORD dataSize = kNameBytes;
        if (RegEnumValueA(port.Get(), index, name, &nameSize, nullptr, nullptr, data, &dataSize) != ERROR_SUCCESS) {
            return ERR_REGISTRY_ACCESS;
        }
        if (std::strstr(name, "Driver") != nullptr) {
            const char* text = reinterpret_cast<const char*>(data);
            driver.assign(text, strnlen(text, dataSize));
        }
    }
    SetDevsSupported(kAtapiDevices);
    SetATAPIInvalid();
    SetHATargetNum(kAtapiTargetId);
    SetType(IF_ATAPI);
    SetASPIString(driver);
    SetHAString("");
    return ERR_NONE;
}
