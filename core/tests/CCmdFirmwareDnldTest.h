#pragma once

#include "core/tests/CTestBase.h"
#include "core/tests/CThreadBase.h"

#include <cstdio>
#include <memory>
#include <string>

// Firmware download from a file with WRITE BUFFER, one thread per device.
class CFirmwareDnldThread : public CThreadBase {
public:
    CFirmwareDnldThread(SCSIDevice* device, AlignedBuffer* buffer, int patternSlot, std::string path, int mode);
    ~CFirmwareDnldThread() override;

    // Checks the unit quietly, then runs the download when the file opens.
    bool InitInstance() override;

protected:
    enum Finish_t { RestartIfNotReady, StartQuietly };

    // Sends one chunk of up to chunkBytes at the offset; at the end of the file finishes.
    void SendChunk(unsigned long chunkBytes, Finish_t finish);
    // closing: the empty command after the last byte, which a drive running
    // its new microcode answers with that unit attention.
    void WriteBuffer(long offset, long length, AlignedBuffer* data, bool closing);
    static bool IsNewMicrocode(CEventBase* event);
    // Sequence A: a unit that is not ready after the download gets time and a start.
    void FinishAndRestart();
    // Sequence B: the unit is checked and started, every answer ignored.
    void FinishQuietly();

    std::string m_Path;
    std::FILE* m_pFile = nullptr;
    std::int32_t m_Offset = 0;
    int m_Mode;

private:
    void TestUnitReadyTwice();
    void StartUnit();
};

class CSegFirmwareDnldThread : public CFirmwareDnldThread {
public:
    using CFirmwareDnldThread::CFirmwareDnldThread;
    void TestLogic(unsigned long index) override;
};

class CIBMFirmwareDnldThread : public CFirmwareDnldThread {
public:
    using CFirmwareDnldThread::CFirmwareDnldThread;
    void TestLogic(unsigned long index) override;
};

// Sends the whole file in one command from an image of its own.
class CNonSegFirmwareDnldThread : public CFirmwareDnldThread {
public:
    CNonSegFirmwareDnldThread(SCSIDevice* device, AlignedBuffer* buffer, int patternSlot, std::string path,
                              int mode, long fileLength);
    ~CNonSegFirmwareDnldThread() override;
    void TestLogic(unsigned long index) override;

private:
    std::int32_t m_FileLength;
    std::unique_ptr<AlignedBuffer> m_Image;
    bool m_bImageRead = false;
};

class CCmdFirmwareDnldTest : public CTestBase {
public:
    CCmdFirmwareDnldTest(std::list<CDevAddress>* addresses, long deviceCount, int patternSlot, int mode);
    CCmdFirmwareDnldTest(std::list<SCSIDevice*>* devices, long deviceCount, int patternSlot, int mode);

    // The block-range forms do not apply to a download.
    Error_t StartTest(int percentage, long opCount, long blocksPerXfer, long timeLimit) override;
    Error_t StartTest(unsigned long startBlock, unsigned long endBlock, long opCount, long blocksPerXfer,
                      long timeLimit) override;
    // ERR_INVALID_PARAM for an empty path; ERR_TEST_18 for a file that cannot
    // be read or does not fit the 24-bit offsets and lengths of WRITE BUFFER.
    virtual Error_t StartTest(const std::string& path) = 0;

protected:
    std::string m_FirmwarePath;
    int m_Mode;
};

class CCmdSegFirmwareDnldTest : public CCmdFirmwareDnldTest {
public:
    static constexpr long BYTES_PER_XFER = 8192;
    using CCmdFirmwareDnldTest::CCmdFirmwareDnldTest;
    using CCmdFirmwareDnldTest::StartTest;
    Error_t StartTest(const std::string& path) override;

protected:
    CThreadBase* MakeAThread(SCSIDevice* device, AlignedBuffer* buffer) override;
};

class CCmdIBMFirmwareDnldTest : public CCmdFirmwareDnldTest {
public:
    static constexpr long BYTES_PER_XFER = 32768;
    using CCmdFirmwareDnldTest::CCmdFirmwareDnldTest;
    using CCmdFirmwareDnldTest::StartTest;
    Error_t StartTest(const std::string& path) override;

protected:
    CThreadBase* MakeAThread(SCSIDevice* device, AlignedBuffer* buffer) override;
};

class CCmdNonSegFirmwareDnldTest : public CCmdFirmwareDnldTest {
public:
    using CCmdFirmwareDnldTest::CCmdFirmwareDnldTest;
    using CCmdFirmwareDnldTest::StartTest;
    Error_t StartTest(const std::string& path) override;

protected:
    CThreadBase* MakeAThread(SCSIDevice* device, AlignedBuffer* buffer) override;

private:
    std::int32_t m_FileLength = 0;
};
