#pragma once

#include "frontend/CommandRoutine.h"
#include "frontend/DeviceRecord.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Returned when there is no computer system.
constexpr int NO_SYSTEM = 130;

constexpr std::size_t ADAPTER_TEXT_BYTES = 16;
constexpr std::size_t ADAPTER_BLOCK_BYTES = 16;
// Byte of the adapter block holding the number of devices the adapter supports.
constexpr std::size_t ADAPTER_BLOCK_DEVICES = 3;

struct AdapterInfo {
    long adapterCount = 0;
    int number = 0;  // the adapter's number in device addresses
    int scsiId = 0;
    std::string aspiString;
    std::string adapterString;
    std::array<std::uint8_t, ADAPTER_BLOCK_BYTES> block{};
    int channel = -1;  // a MegaRAID channel adapter's channel on the controller of port `number`
};

// 1, -1 when the adapter does not exist (the count is filled either way), NO_SYSTEM.
int GetAdapterInfo(int adapter, AdapterInfo& info);
// 1, 0 when the adapter does not exist, NO_SYSTEM.
int RescanAdapter(int adapter);

// The peripheral device type from a short INQUIRY; false when it failed.
bool GetPeripheralType(int hostAdapter, int target, int lun, int& type);
// The same for any address form.
bool GetPeripheralType(const DeviceRecord& record, int& type);

constexpr std::size_t IDENTITY_BYTES = 160;

struct DeviceIdentity {
    std::string vendor;
    std::string product;
    std::string revision;
    std::string serialNumber;
};

// 0, or -1 when the INQUIRY failed (identity emptied). The copy, when given,
// receives IDENTITY_BYTES bytes with every byte but letters and digits blanked.
int ReadIdentity(const DeviceRecord& record, DeviceIdentity& identity, std::uint8_t* copy = nullptr);

bool IsKestrelDrive(const DeviceRecord& record);
bool IsDstSupported(const DeviceRecord& record);

constexpr std::uint8_t SELF_TEST_PAGE = 0x50;
constexpr int SELF_TEST_IN_PROGRESS = 0x0F;

// The outcome code (0 = read).
int ReadSelfTestStatus(const DeviceRecord& record, std::uint8_t pageByte, bool& inProgress, int& resultCode);

// The last LBA READ CAPACITY(10) gives a drive it cannot describe.
constexpr std::uint32_t LAST_LBA_10 = 0xFFFFFFFF;
constexpr std::size_t CAPACITY16_BYTES = 32;

// 0 on success; the request block, when given, receives the command's. A
// drive of 2 TiB or more is asked again with READ CAPACITY(16).
int ReadCapacity(const DeviceRecord& record, std::uint64_t& lastLba, std::uint32_t& blockLength,
                 RequestBlock* block = nullptr);

// Blocks of this length one command may move: as many as `bufferBytes` hold,
// at most the drive's MAXIMUM TRANSFER LENGTH (Block Limits VPD page B0h,
// SBC-3 6.5.3) where it offers one and at most what its port carries in one
// request. At least 1.
std::uint32_t MaxTransferBlocks(const DeviceRecord& record, std::uint32_t blockLength, std::uint32_t bufferBytes);

constexpr int PAGE_CURRENT = 0;
constexpr int PAGE_DEFAULT = 2;
// Bytes of the reply before those ModeSensePage hands out.
constexpr std::size_t MODE_REPLY_SKIP = 8;
constexpr std::size_t MODE_REPLY_BYTES = 255;

// MODE SENSE(6) of one page; copies `count` bytes from offset 8 of the reply.
// The outcome code (0 = read); on failure the sense bytes go to the record.
int ModeSensePage(DeviceRecord& record, int pageCode, std::uint8_t* buffer, std::size_t count, int pageControl);

// Sends a command with no data through RouteCdb; the outcome code.
int SendNoDataCommand(const DeviceRecord& record, const Cdb& cdb, long timeout);

// The time-out of the command-line program's mode sense (the windowed program uses 30).
long& ModeSenseTimeout();

// The listing's word for a peripheral device type ("Disc ", "Tape ", ...).
const char* TypeName(int type);

// How many targets a scan probes on an adapter that supports this many devices.
int TargetsToProbe(long supported);

// The LUNs a scan probes on every target, whether or not it answers REPORT LUNS.
constexpr int PROBED_LUNS = 8;
// The LUNs past PROBED_LUNS, up to 255, that the target's REPORT LUNS (SPC-4)
// lists, asked through a LUN of it that answered; ascending, empty when the
// target does not answer.
std::vector<int> ReportedLunsBeyondProbe(const DeviceRecord& answered);
