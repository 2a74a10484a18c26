// Each test gets its own folder, registry and machine, and the heap buffer
// manager the control blocks' request memory needs.
#pragma once

#include "core/buffers/AlignedBuffer.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

namespace aspi_test {

class AspiFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_Dir = test_support::MakeTestHome("aspi");
        ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_HEAP), ERR_NONE);
    }
    void TearDown() override
    {
        AlignedBuffer::UnregisterBufferMgr();
        test_support::LeaveTestHome(m_Dir);
    }
    void UseMachine(const std::string& json) { test_support::UseMachineFile(m_Dir, json); }

    std::filesystem::path m_Dir;
};

// Polls until done says so; false when two seconds pass first.
template <class Done>
bool PollUntil(Done done)
{
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

}  // namespace aspi_test
