// Each test gets its own temporary registry, state folder and machine; the
// port driver object is made fresh from that machine.
#pragma once

#include "FakePortMachine.h"

#include "core/transport/SCSI_NTPortIoCtl.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <vector>

namespace transport_test {

class TransportFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Installs the fake machine and, unless told otherwise, the heap buffer manager.
    void StartFake(bool withBufferManager = true);

    std::filesystem::path m_Dir;
    std::shared_ptr<FakeState> m_Fake = std::make_shared<FakeState>();

private:
    bool m_BufferManager = false;
};

// Builds and issues one command the way the command sets do; the block's
// final status.
Error_t Issue(CScsiIoCtl& block, std::initializer_list<std::uint8_t> cdb, void* data = nullptr, long length = 0,
              unsigned long flags = 0, unsigned long lba = 0, unsigned long blocks = 0);

// The request as the port sees it.
NTPortRequest_s& RequestOf(CScsiIoCtl& block);

}  // namespace transport_test
