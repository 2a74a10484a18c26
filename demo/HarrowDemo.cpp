// Walks the active machine the way the transports will: the SCSI device map
// from the registry, each port's bus list, and one TEST UNIT READY and READ
// CAPACITY per disk through the pass-through.
#include "platform/Files.h"
#include "platform/Kernel.h"
#include "platform/Registry.h"
#include "platform/ntddscsi.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Unit {
    UCHAR path, target, lun;
    bool claimed;
    UCHAR inquiry[36];
};

std::string RegistryText(HKEY key, const char* name)
{
    char value[256] = {};
    DWORD size = sizeof(value) - 1;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return "?";
    }
    return value;
}

std::string Text(const UCHAR* bytes, size_t length)
{
    std::string text(reinterpret_cast<const char*>(bytes), length);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) {
        text.pop_back();
    }
    return text;
}

std::vector<Unit> BusList(HANDLE port)
{
    std::vector<BYTE> buffer(20480);
    DWORD returned = 0;
    std::vector<Unit> units;
    if (!DeviceIoControl(port, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, buffer.data(),
                         static_cast<DWORD>(buffer.size()), &returned, nullptr)) {
        return units;
    }
    auto* info = reinterpret_cast<SCSI_ADAPTER_BUS_INFO*>(buffer.data());
    for (UCHAR bus = 0; bus < info->NumberOfBuses; ++bus) {
        ULONG offset = info->BusData[bus].InquiryDataOffset;
        while (offset != 0 && offset + offsetof(SCSI_INQUIRY_DATA, InquiryData) + 36 <= returned) {
            auto* entry = reinterpret_cast<SCSI_INQUIRY_DATA*>(buffer.data() + offset);
            Unit unit{entry->PathId, entry->TargetId, entry->Lun, entry->DeviceClaimed != 0, {}};
            std::memcpy(unit.inquiry, entry->InquiryData, 36);
            units.push_back(unit);
            offset = entry->NextInquiryDataOffset;
        }
    }
    return units;
}

struct Command {
    SCSI_PASS_THROUGH_DIRECT request;
    UCHAR sense[32];
};

bool Send(HANDLE port, const Unit& unit, std::initializer_list<UCHAR> cdb, void* data, ULONG length,
          UCHAR* status)
{
    Command command{};
    command.request.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    command.request.PathId = unit.path;
    command.request.TargetId = unit.target;
    command.request.Lun = unit.lun;
    command.request.CdbLength = static_cast<UCHAR>(cdb.size());
    command.request.SenseInfoLength = sizeof(command.sense);
    command.request.SenseInfoOffset = offsetof(Command, sense);
    command.request.DataIn = length ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_UNSPECIFIED;
    command.request.DataTransferLength = length;
    command.request.DataBuffer = data;
    command.request.TimeOutValue = 30;
    std::memcpy(command.request.Cdb, cdb.begin(), cdb.size());
    DWORD returned = 0;
    BOOL sent = DeviceIoControl(port, IOCTL_SCSI_PASS_THROUGH_DIRECT, &command, sizeof(command), &command,
                                sizeof(command), &returned, nullptr);
    *status = command.request.ScsiStatus;
    return sent && command.request.ScsiStatus == 0;
}

void ShowDisk(HANDLE port, const Unit& unit)
{
    UCHAR status = 0;
    bool ready = Send(port, unit, {0x00, 0, 0, 0, 0, 0}, nullptr, 0, &status);
    if (!ready) {
        // The first command after power-on reports the unit attention.
        ready = Send(port, unit, {0x00, 0, 0, 0, 0, 0}, nullptr, 0, &status);
    }
    UCHAR capacity[8] = {};
    if (ready && Send(port, unit, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, capacity, sizeof(capacity), &status)) {
        unsigned long long blocks = ((capacity[0] << 24) | (capacity[1] << 16) | (capacity[2] << 8) | capacity[3]) + 1ULL;
        unsigned blockSize = (capacity[4] << 24) | (capacity[5] << 16) | (capacity[6] << 8) | capacity[7];
        std::printf("        ready, %llu blocks of %u bytes (%.1f GB)\n", blocks, blockSize,
                    blocks * blockSize / 1e9);
    } else {
        std::printf("        not ready (status 0x%02X)\n", status);
    }
}

}  // namespace

int main()
{
    HKEY scsi = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\Scsi", 0, KEY_READ, &scsi) != ERROR_SUCCESS) {
        std::printf("This machine has no SCSI ports.\n");
        return 0;
    }
    for (int n = 0;; ++n) {
        std::string name = "\\\\.\\SCSI" + std::to_string(n) + ":";
        HANDLE port = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (port == INVALID_HANDLE_VALUE) {
            break;
        }
        HKEY key = nullptr;
        std::string driver = "?", device = "?";
        std::string keyName = "Scsi Port " + std::to_string(n);
        if (RegOpenKeyExA(scsi, keyName.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            driver = RegistryText(key, "Driver");
            device = RegistryText(key, "DeviceName");
            RegCloseKey(key);
        }
        std::printf("%s  driver %s, device %s\n", name.c_str(), driver.c_str(), device.c_str());
        for (const Unit& unit : BusList(port)) {
            std::printf("    %u:%u:%u  %-8s %-16s %-4s  type %u%s\n", unit.path, unit.target, unit.lun,
                        Text(unit.inquiry + 8, 8).c_str(), Text(unit.inquiry + 16, 16).c_str(),
                        Text(unit.inquiry + 32, 4).c_str(), unit.inquiry[0] & 0x1F,
                        unit.claimed ? ", claimed" : "");
            if ((unit.inquiry[0] & 0x1F) == 0) {
                ShowDisk(port, unit);
            }
        }
        CloseHandle(port);
    }
    RegCloseKey(scsi);
    return 0;
}
