#pragma once

#include <cstdint>

class AlignedBuffer;
class CTestBase;

// Walks the transfer buffers of a test and tells which device and thread
// each belongs to, for clients that show what the threads move.
class CTestBufferAccess {
public:
    explicit CTestBufferAccess(CTestBase* test);
    CTestBufferAccess(const CTestBufferAccess& other) = default;
    CTestBufferAccess& operator=(const CTestBufferAccess& other) = default;
    virtual ~CTestBufferAccess();

    int GetNumBuffers() const;
    void ResetIterator() { m_BufferIndex = -1; }
    AlignedBuffer* GetFirstBuffer();
    // Steps on when there is a next buffer; at the last it keeps answering the last.
    AlignedBuffer* GetNextBuffer();
    AlignedBuffer* GetPrevBuffer();
    // The address of the current buffer's device and the thread's index on it.
    void GetCurrentThread(int& hostAdapter, int& target, int& lun, int& thread);

private:
    AlignedBuffer* Current() const;

    CTestBase* m_pTest;
    std::int32_t m_BufferIndex = -1;
};
