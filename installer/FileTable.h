// The files the installer knows, in the layout of its data.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct InstallFile_s {
    std::uint32_t id;
    char sourceName[20];     // in the installer's own folder
    char temporaryName[20];  // the copy that waits for the restart
    char installedName[20];
    char backupName[20];     // the file found before the first run
    std::uint32_t destination;  // a string-table entry: 1 "IOSUBSYS\", 2 "SYSTEM\", ...
};
#pragma pack(pop)
static_assert(offsetof(InstallFile_s, id) == 0);
static_assert(offsetof(InstallFile_s, sourceName) == 4);
static_assert(offsetof(InstallFile_s, temporaryName) == 24);
static_assert(offsetof(InstallFile_s, installedName) == 44);
static_assert(offsetof(InstallFile_s, backupName) == 64);
static_assert(offsetof(InstallFile_s, destination) == 84);
static_assert(sizeof(InstallFile_s) == 88);

constexpr std::uint32_t kDestIoSubsys = 1;
constexpr std::uint32_t kDestSystem = 2;
constexpr std::uint32_t kDestSystem32 = 3;
constexpr std::uint32_t kDestDrivers = 4;

// The Windows 9x set comes first and is the only one installed; the NT set
// is kept with it.
constexpr InstallFile_s kInstallFiles[] = {
    {0, "APIX.VXD", "APIX.ORB", "APIX.VXD", "APIX.PreORB", kDestIoSubsys},
    {1, "ASPIENUM.VXD", "ASPIENUM.ORB", "ASPIENUM.VXD", "ASPIENUM.PreORB", kDestSystem},
    {2, "WINASPI.DLL", "WINASPI.ORB", "WINASPI.DLL", "WINASPI.PreORB", kDestSystem},
    {3, "WNASPI32.DLL", "WNASPI32.ORB", "WNASPI32.DLL", "WNASPI32.PreORB", kDestSystem},
    {4, "ASPI32.SYS", "ASPI32.ORB", "ASPI32.SYS", "ASPI32.PreORB", kDestDrivers},
    {5, "WOWPOST.EXE", "WOWPOST.ORB", "WOWPOST.EXE", "WOWPOST.PreORB", kDestSystem},
    {6, "WINASPI.DLL", "WINASPI.ORB", "WINASPI.DLL", "WINASPI.PreORB", kDestSystem},
    {7, "WNASPI32.DLL", "WNASPI32.ORB", "WNASPI32.DLL", "WNASPI32.PreORB", kDestSystem32},
};
constexpr std::size_t kWin9xFileCount = 4;

// String-table entries 1 to 4: the destination folders.
const char* DestinationString(std::uint32_t id);
