// The contract between the platform's device calls and a machine: what a
// "\\.\NAME" opens, what DeviceIoControl reaches, and the SCSI device map
// that the registry shows under HKLM\HARDWARE\DEVICEMAP\Scsi.
#pragma once

#include "platform/WinTypes.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace harrow::platform {

// One open device. Calls may come from several threads at once.
class Device {
public:
    virtual ~Device() = default;

    // Win32 DeviceIoControl semantics: TRUE on success with *bytesReturned
    // set; FALSE with *error set to a Win32 error code otherwise.
    virtual BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                           DWORD* bytesReturned, DWORD* error) = 0;

    // ReadFile/WriteFile on a device handle; devices that do not stream
    // answer ERROR_INVALID_FUNCTION.
    virtual BOOL Read(void* buffer, DWORD size, DWORD* done, DWORD* error);
    virtual BOOL Write(const void* buffer, DWORD size, DWORD* done, DWORD* error);
};

// A value of a volatile registry key, in REG_* terms.
struct RegistryValue {
    std::string name;
    DWORD type = 0;
    std::vector<BYTE> data;
};

// A volatile key, its path relative to HKLM\HARDWARE\DEVICEMAP\Scsi
// ("Scsi Port 0", "Scsi Port 0\Scsi Bus 0", ...).
struct RegistryKey {
    std::string path;
    std::vector<RegistryValue> values;
};

class Machine {
public:
    virtual ~Machine() = default;

    // name is what follows "\\.\" ("SCSI0:", "PhysicalDrive1", ...), in the
    // caller's letter case. Null with *error set (ERROR_FILE_NOT_FOUND when
    // there is no such device).
    virtual std::unique_ptr<Device> Open(const std::string& name, DWORD access, DWORD* error) = 0;

    // The device map as Windows would write it at boot.
    virtual std::vector<RegistryKey> DeviceMap() const = 0;

    // The largest transfer the machine lets an ASPI manager take, when it
    // holds the manager below the manager's own limit.
    virtual std::optional<DWORD> AspiBufferLimit() const;
};

// The machine chosen by HARROW_MACHINE, made on first use. Throws
// std::runtime_error with a clear message when the machine cannot be made
// (a malformed machine file, for example).
Machine& ActiveMachine();

// Replaces the active machine (tests); null returns to HARROW_MACHINE's.
void SetActiveMachine(std::unique_ptr<Machine> machine);

}  // namespace harrow::platform
