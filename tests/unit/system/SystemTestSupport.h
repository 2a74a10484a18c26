// Private folders, machines and registry values for the system model tests,
// and a window on the computer system's protected configuration steps.
#pragma once

#include "core/system/CComputerSystem.h"
#include "core/types/CEventError.h"
#include "core/types/Error.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

class ComputerSystemInspector {
public:
    static Driver_t DriverType(const char* name)
    {
        std::string copy = name;
        return CComputerSystem::Instance()->GetDriverType(copy.data());
    }
    static BufferMgr_t BufMgrType() { return CComputerSystem::Instance()->GetBufMgrType(); }
    static Error_t SetupBufferMgr(BufferMgr_t kind) { return CComputerSystem::Instance()->SetupBufferMgr(kind); }
    static void ListAdapters(Driver_t requested)
    {
        CComputerSystem::Instance()->InitializeHADriverTypes(requested);
    }
    static const std::vector<Driver_t>& DriverTypes() { return CComputerSystem::Instance()->m_HADriverTypes; }
    static const std::vector<RaidChannel_s>& RaidChannels() { return CComputerSystem::Instance()->m_RaidChannels; }
};

namespace system_test {

constexpr const char* kProduct = "Harrow Test";

// What an error event thrown as CEventBase* said; the event is deleted.
struct Thrown {
    bool Caught = false;
    std::string Text;
    Error_t Code = ERR_NONE;
};

template <class Call>
Thrown CatchEvent(Call call)
{
    Thrown thrown;
    try {
        call();
    } catch (CEventBase* event) {
        thrown.Caught = true;
        if (event != nullptr) {
            const auto* error = dynamic_cast<const CEventError*>(event);
            thrown.Text = error != nullptr ? error->GetMessage() : event->toString();
            thrown.Code = event->GetErrorCode();
        }
        delete event;
    }
    return thrown;
}

class SystemFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes a machine file and makes it the active machine.
    void UseMachine(const std::string& json);
    // Chooses the Windows version the next computer system sees.
    void UseWindows(const char* version);
    void WriteRegistryText(const std::string& text);
    // A value under HKLM, creating the key.
    static void SetValue(const std::string& key, const char* name, DWORD type, const void* data, DWORD size);
    static void SetDword(const std::string& key, const char* name, DWORD value)
    {
        SetValue(key, name, REG_DWORD, &value, sizeof value);
    }
    static void SetString(const std::string& key, const char* name, const std::string& value)
    {
        SetValue(key, name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
    }
    static bool KeyExists(const std::string& key);
    static std::string OsKey(const char* os);

    std::filesystem::path m_Dir;
};

}  // namespace system_test
