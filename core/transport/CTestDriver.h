#pragma once

#include "core/transport/CScsiDriver.h"
#include "core/transport/TestRequest.h"

#include <list>
#include <memory>
#include <mutex>

// The test transport's driver object: one simulated adapter with one disk
// that answers INQUIRY and READ CAPACITY from a table and accepts anything
// else. Every command's CDB is left in "TestOut.ptb".
class CTestDriver final : public CSharedScsiDriver<CTestDriver> {
public:
    static constexpr const char* kOutputFile = "TestOut.ptb";
    static constexpr unsigned long kBufferFigure = 0x10000;

    struct TestDevice_s {
        int Adapter;
        int Target;
        int Lun;
        char Vendor[8];
        char Product[8];
        char Revision[4];
        DWORD LastBlock;
        DWORD BlockLength;
    };

    ~CTestDriver() override;

    Error_t RescanBus(int adapter) override;
    Error_t Send(HANDLE device, void* request) override;
    bool WaitDone(void* request) override;
    Error_t GetCompletion(void* request, bool wait) override;
    long AdapterCount() override;
    Error_t AdapterInquiry(int adapter, int* adapterTargetId, std::string* managerString, std::string* adapterString,
                           long* devsSupported) override;
    HANDLE GetDeviceHandle(const CDevAddress& address) override;
    Error_t Init() override;
    Error_t Free() override;

    Error_t BufferGet(unsigned long size, void** address);
    Error_t BufferRelease(void* address);
    Error_t BufferReleaseAll();
    Error_t GetTotalAllocated(unsigned long* bytes);
    Error_t GetAvailable(unsigned long* bytes);
    Error_t GetLargestContig(unsigned long* bytes);

private:
    friend class CSharedScsiDriver<CTestDriver>;

    CTestDriver();
    static const TestDevice_s* FindDevice(const TestRequest_s& request);
    static void RecordCdb(const TestRequest_s& request);

    bool m_bInitialized = false;
    std::mutex m_BufferLock;
    std::list<std::unique_ptr<unsigned char[]>> m_Buffers;
};

extern template class CSharedScsiDriver<CTestDriver>;
