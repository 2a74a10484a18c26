#include "raidplugin/OrbAmiRaid.h"

#include "core/types/Error.h"
#include "platform/Files.h"
#include "platform/Handle.h"
#include "platform/Registry.h"
#include "platform/ntddscsi.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

struct Controller {
    std::uint8_t Port;
    std::uint8_t Channels;
    HANDLE Handle;
};

std::vector<Controller> g_controllers;  // in discovery order

constexpr int kLastPort = 255;
constexpr DWORD kNameBytes = 256;
constexpr int kAttempts = 3;
constexpr std::uint8_t kOwnTargetId = 15;
constexpr std::uint8_t kMaxAddress = 15;
constexpr char kIdentity[] = {'m', 'r', 'a', 'i', 'd', '3', '5', 'x', '/'};
constexpr std::uint32_t kSenseBytes = 128;
constexpr std::uint32_t kInquiryBytes = 32;

std::string Upper(const char* text, std::size_t length)
{
    std::string upper(text, strnlen(text, length));
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

Controller* FindController(std::uint8_t port)
{
    for (Controller& controller : g_controllers) {
        if (controller.Port == port) {
            return &controller;
        }
    }
    return nullptr;
}

// The driver value's data, upper-cased; empty when the port names none.
std::string DriverOf(HKEY port)
{
    for (DWORD index = 0;; ++index) {
        char name[kNameBytes] = {};
        BYTE data[kNameBytes] = {};
        DWORD nameSize = kNameBytes;
        DWORD dataSize = kNameBytes - 1;  // keeps a terminator
        DWORD type = 0;
        if (RegEnumValueA(port, index, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) {
            return {};
        }
        if (Upper(name, sizeof name).find("DRIVER") != std::string::npos) {
            return Upper(reinterpret_cast<const char*>(data), dataSize);
        }
    }
}

DWORD CountSubkeys(HKEY port)
{
    DWORD count = 0;
    char name[kNameBytes];
    for (;;) {
        DWORD nameSize = kNameBytes;
        if (RegEnumKeyExA(port, count, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            return count;
        }
        ++count;
    }
}

std::int32_t AddController(int port, HKEY portKey)
{
    if (FindController(static_cast<std::uint8_t>(port)) != nullptr) {
        return ERR_NONE;
    }
    char deviceName[32];
    std::snprintf(deviceName, sizeof deviceName, "\\\\.\\scsi%d:", port);
    HANDLE handle = CreateFileA(deviceName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return ERR_INVALID_PARAM;
    }
    // One subkey is the controller's own bus; the rest are its channels.
    const DWORD subkeys = CountSubkeys(portKey);
    const auto channels = static_cast<std::uint8_t>(subkeys > 0 ? subkeys - 1 : 0);
    try {
        g_controllers.push_back({static_cast<std::uint8_t>(port), channels, handle});
    } catch (const std::bad_alloc&) {
        CloseHandle(handle);
        return ERR_NO_MEMORY;
    }
    return ERR_NONE;
}

std::uint8_t TimeoutClass(std::uint32_t seconds)
{
    if (seconds < 7) {
        return 0;
    }
    if (seconds < 181) {
        return 1;
    }
    if (seconds < 601) {
        return 2;
    }
    if (seconds < 36000) {
        return 3;
    }
    return 4;
}

std::vector<std::uint8_t> BuildPassThrough(const RaidRequest& request)
{
    std::vector<std::uint8_t> buffer(request.DataLength + MegaRaidPassThrough::ALLOCATED_BEYOND_DATA, 0);
    auto* header = reinterpret_cast<MegaRaidPassThrough*>(buffer.data());
    header->HeaderLength = MegaRaidPassThrough::HEADER_LENGTH;
    header->Timeout = request.Timeout;
    header->Length = request.DataLength + MegaRaidPassThrough::LENGTH_BEYOND_DATA;
    header->Command = MegaRaidPassThrough::COMMAND;
    header->Status = MegaRaidPassThrough::STATUS_UNTOUCHED;
    header->TimeoutClass = static_cast<std::uint8_t>(TimeoutClass(request.Timeout) | MegaRaidPassThrough::AUTO_SENSE);
    header->Lun = request.Lun;
    header->ChannelTarget = static_cast<std::uint8_t>(request.Channel * 16 + request.Target);
    std::memcpy(header->Cdb, request.Cdb, std::min<std::size_t>(request.CdbLength, sizeof header->Cdb));
    header->CdbLength = request.CdbLength;
    header->SenseLength = MegaRaidPassThrough::SENSE_LENGTH;
    header->ScsiStatus = MegaRaidPassThrough::SCSI_STATUS_UNSET;
    header->DataLength = request.DataLength;
    if (request.Direction == RaidRequest::kDirectionOut && request.DataLength != 0 && request.Data != nullptr) {
        std::memcpy(buffer.data() + sizeof(MegaRaidPassThrough), request.Data, request.DataLength);
    }
    return buffer;
}

std::int32_t ResultOfStatus(std::uint8_t status)
{
    switch (status) {
    case 0:
        return ERR_NONE;
    case 1:
    case 0xF4:
    case 0xFA:
    case 0xFC:
        return ERR_NO_DEVICE;
    case 2:
        return 2;
    case MegaRaidPassThrough::STATUS_UNTOUCHED:
        return ERR_TIMEOUT;
    default:
        return ERR_CHECK_CONDITION;
    }
}

std::int32_t SendCommand(const RaidRequest& request)
{
    const Controller* controller = FindController(request.Adapter);
    if (controller == nullptr) {
        return ERR_NO_HOST_ADAPTER;
    }
    // The pass-through carries channel and target in four bits each: a
    // larger number would reach another channel's drive.
    if (request.Lun != 0 || request.Channel > kMaxAddress || request.Target > kMaxAddress) {
        return ERR_NO_DEVICE;
    }
    std::vector<std::uint8_t> buffer = BuildPassThrough(request);
    const auto size = static_cast<DWORD>(buffer.size());
    std::int32_t result = ERR_DRIVER_FAILURE;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        DWORD returned = 0;
        if (!DeviceIoControl(controller->Handle, IOCTL_SCSI_MINIPORT, buffer.data(), size, buffer.data(), size,
                             &returned, nullptr)) {
            continue;
        }
        const std::uint8_t status = reinterpret_cast<const MegaRaidPassThrough*>(buffer.data())->Status;
        result = ResultOfStatus(status);
        if (status == MegaRaidPassThrough::STATUS_UNTOUCHED) {
            continue;
        }
        if (result == ERR_NONE && request.Direction == RaidRequest::kDirectionIn && request.DataLength != 0 &&
            request.Data != nullptr) {
            std::memcpy(request.Data, buffer.data() + sizeof(MegaRaidPassThrough), request.DataLength);
        }
        break;
    }
    return result;
}

void FetchSense(const RaidRequest& failed)
{
    std::uint8_t sense[kSenseBytes] = {};
    RaidRequest request{};
    request.Cdb[0] = 0x03;
    request.Cdb[4] = kSenseBytes;
    request.CdbLength = 6;
    request.Adapter = failed.Adapter;
    request.Channel = failed.Channel;
    request.Target = failed.Target;
    request.Lun = failed.Lun;
    request.Direction = RaidRequest::kDirectionIn;
    request.DataLength = kSenseBytes;
    request.Data = sense;
    if (SendCommand(request) == ERR_NONE && failed.Sense != nullptr) {
        std::memcpy(failed.Sense, sense, std::min<std::size_t>(kSenseBytes, failed.SenseLength));
    }
}

}  // namespace

void CloseControllers()
{
    for (const Controller& controller : g_controllers) {
        CloseHandle(controller.Handle);
    }
    g_controllers.clear();
}

extern "C" {

std::int32_t fnAMIRaidInit()
{
    try {
        // Earlier records are dropped with their handles, so a rescan leaks nothing.
        CloseControllers();
        std::int32_t result = ERR_NONE;
        for (int port = 0; port <= kLastPort && result == ERR_NONE; ++port) {
            char path[64];
            std::snprintf(path, sizeof path, "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %d", port);
            HKEY key = nullptr;
            const LSTATUS opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key);
            if (opened == ERROR_FILE_NOT_FOUND) {
                break;  // the ports are numbered without gaps
            }
            if (opened != ERROR_SUCCESS) {
                return static_cast<std::int32_t>(opened);
            }
            if (DriverOf(key).find("MRAID") != std::string::npos) {
                result = AddController(port, key);
            }
            RegCloseKey(key);
        }
        return result;
    } catch (...) {
        return ERR_DRIVER_FAILURE;
    }
}

std::int32_t AdapterCount(int* count)
{
    if (count != nullptr) {
        *count = static_cast<int>(g_controllers.size());
    }
    return ERR_NONE;
}

std::int32_t HaInquiry(int adapter, char* channels, char* identity, char* ownId)
{
    const Controller* controller = FindController(static_cast<std::uint8_t>(adapter & 0xFF));
    if (controller == nullptr) {
        return ERR_NO_HOST_ADAPTER;
    }
    *channels = static_cast<char>(controller->Channels);
    std::memcpy(identity, kIdentity, sizeof kIdentity);
    *ownId = static_cast<char>(kOwnTargetId);
    return ERR_NONE;
}

std::int32_t DoCommand(RaidRequest* request)
{
    try {
        // Data without a buffer would be sent as zeros or dropped.
        if (request->CdbLength > RaidRequest::kMaxCdbLength || (request->DataLength != 0 && request->Data == nullptr)) {
            return ERR_INVALID_REQUEST;
        }
        const std::int32_t result = SendCommand(*request);
        switch (result) {
        case ERR_NONE:
        case ERR_TIMEOUT:
        case ERR_NO_DEVICE:
        case ERR_NO_HOST_ADAPTER:
            return result;
        case ERR_CHECK_CONDITION:
            FetchSense(*request);
            return result;
        default:
            return ERR_DRIVER_FAILURE;
        }
    } catch (...) {
        return ERR_DRIVER_FAILURE;
    }
}

std::int32_t GetDevType(RaidRequest* request, char* peripheral)
{
    std::uint8_t inquiry[kInquiryBytes] = {};
    std::memset(request->Cdb, 0, sizeof request->Cdb);
    request->Cdb[0] = 0x12;
    request->Cdb[4] = kInquiryBytes;
    request->CdbLength = 6;
    request->DataLength = kInquiryBytes;
    request->Data = inquiry;
    request->Direction = RaidRequest::kDirectionIn;
    const std::int32_t result = DoCommand(request);
    if (result == ERR_NO_HOST_ADAPTER) {
        return result;
    }
    if (result != ERR_NONE) {
        return ERR_NO_DEVICE;
    }
    *peripheral = static_cast<char>(inquiry[0]);
    return ERR_NONE;
}

}  // extern "C"
