#include "core/transport/CTestDriver.h"

#include "core/transport/CASPIDriver.h"
#include "platform/OutputFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

template class CSharedScsiDriver<CTestDriver>;

namespace {

constexpr CTestDriver::TestDevice_s kDevices[] = {
    {2, 118, 0, {'O', 'r', 'b', 0, 0, 0, 0, 0}, {'T', 'e', 's', 't', 'H', 'A', '1', 0}, {'1', '1', '1', 0}, 800000, 512},
};

constexpr BYTE kInquiry = 0x12;
constexpr BYTE kReadCapacity = 0x25;
constexpr int kAdapterTargetId = 7;
constexpr signed char kMaxTargets = static_cast<signed char>(128);
constexpr char kManager[] = "Test HA aspi";
constexpr char kIdentifier[] = "Test HA ha";

// Copies what fits of the field into the caller's data: a short buffer gets
// the part that lies inside it.
void Put(TestRequest_s& request, std::size_t offset, const void* field, std::size_t size)
{
    if (request.Data == nullptr || offset >= request.DataLength) {
        return;
    }
    std::memcpy(request.Data + offset, field, std::min<std::size_t>(size, request.DataLength - offset));
}

void PutBigEndian(TestRequest_s& request, std::size_t offset, DWORD value)
{
    const BYTE bytes[4] = {static_cast<BYTE>(value >> 24), static_cast<BYTE>(value >> 16),
                           static_cast<BYTE>(value >> 8), static_cast<BYTE>(value)};
    Put(request, offset, bytes, sizeof bytes);
}

}  // namespace

CTestDriver::CTestDriver()
{
    Init();
}

CTestDriver::~CTestDriver()
{
    Free();
}

Error_t CTestDriver::Init()
{
    if (m_bInitialized) {
        return ERR_ALREADY_INITIALIZED;
    }
    m_bInitialized = true;
    return ERR_NONE;
}

Error_t CTestDriver::Free()
{
    BufferReleaseAll();
    m_bInitialized = false;
    return ERR_NONE;
}

Error_t CTestDriver::RescanBus(int)
{
    return ERR_NONE;
}

const CTestDriver::TestDevice_s* CTestDriver::FindDevice(const TestRequest_s& request)
{
    for (const TestDevice_s& device : kDevices) {
        if (device.Adapter == request.Adapter && device.Target == request.Target && device.Lun == request.Lun) {
            return &device;
        }
    }
    return nullptr;
}

void CTestDriver::RecordCdb(const TestRequest_s& request)
{
    std::string reason;
    const harrow::platform::OutputFile file =
        harrow::platform::OpenOutputFile(kOutputFile, harrow::platform::OutputMode::Replace, &reason);
    if (!file) {
        return;  // an unwritable folder costs the record, not the command
    }
    const std::size_t length = std::min<std::size_t>(request.CdbLength, sizeof request.Cdb);
    std::fwrite(request.Cdb, 1, length, file.get());
    std::fputc(request.CdbLength, file.get());
}

Error_t CTestDriver::Send(HANDLE, void* request)
{
    auto& test = *static_cast<TestRequest_s*>(request);
    RecordCdb(test);
    const TestDevice_s* device = FindDevice(test);
    switch (test.Cdb[0]) {
    case kInquiry:
        std::memset(&test.Sense, 0, sizeof test.Sense);
        if (device == nullptr) {
            return ERR_NO_DEVICE;
        }
        if (test.Data != nullptr && test.DataLength > 0) {
            test.Data[0] &= 0xE0;
        }
        Put(test, 8, device->Vendor, sizeof device->Vendor);
        Put(test, 16, device->Product, sizeof device->Product);
        Put(test, 32, device->Revision, sizeof device->Revision);
        return ERR_NONE;
    case kReadCapacity:
        if (device == nullptr) {
            return ERR_DRIVER_FAILURE;
        }
        PutBigEndian(test, 0, device->LastBlock);
        PutBigEndian(test, 4, device->BlockLength);
        return ERR_NONE;
    default:
        return ERR_NONE;
    }
}

bool CTestDriver::WaitDone(void*)
{
    return true;
}

Error_t CTestDriver::GetCompletion(void* request, bool)
{
    return FindDevice(*static_cast<const TestRequest_s*>(request)) != nullptr ? ERR_NONE : ERR_DRIVER_FAILURE;
}

long CTestDriver::AdapterCount()
{
    return 1;
}

Error_t CTestDriver::AdapterInquiry(int, int* adapterTargetId, std::string* managerString, std::string* adapterString,
                                    long* devsSupported)
{
    if (adapterTargetId != nullptr) {
        *adapterTargetId = kAdapterTargetId;
    }
    if (managerString != nullptr) {
        *managerString = kManager;
    }
    if (adapterString != nullptr) {
        *adapterString = kIdentifier;
    }
    if (devsSupported != nullptr) {
        *devsSupported = CASPIDriver::DevicesSupported(kMaxTargets);
    }
    return ERR_NONE;
}

HANDLE CTestDriver::GetDeviceHandle(const CDevAddress&)
{
    return nullptr;
}

Error_t CTestDriver::BufferGet(unsigned long size, void** address)
{
    if (address == nullptr) {
        return ERR_INVALID_PARAM;
    }
    *address = nullptr;
    auto* memory = new (std::nothrow) unsigned char[size]();
    if (memory == nullptr) {
        return ERR_NO_MEMORY;
    }
    std::lock_guard guard(m_BufferLock);
    m_Buffers.emplace_back(memory);
    *address = memory;
    return ERR_NONE;
}

Error_t CTestDriver::BufferRelease(void* address)
{
    std::lock_guard guard(m_BufferLock);
    m_Buffers.remove_if([&](const std::unique_ptr<unsigned char[]>& buffer) { return buffer.get() == address; });
    return ERR_NONE;
}

Error_t CTestDriver::BufferReleaseAll()
{
    std::lock_guard guard(m_BufferLock);
    m_Buffers.clear();
    return ERR_NONE;
}

Error_t CTestDriver::GetTotalAllocated(unsigned long* bytes)
{
    return GetAvailable(bytes);
}

Error_t CTestDriver::GetAvailable(unsigned long* bytes)
{
    if (bytes == nullptr) {
        return ERR_INVALID_PARAM;
    }
    *bytes = kBufferFigure;
    return ERR_NONE;
}

Error_t CTestDriver::GetLargestContig(unsigned long* bytes)
{
    return GetAvailable(bytes);
}
