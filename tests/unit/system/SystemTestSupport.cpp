#include "SystemTestSupport.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/log/CLogFile.h"
#include "core/system/CTarget.h"
#include "platform/DeviceNamespace.h"
#include "support/TestHome.h"

#include <cstdlib>
#include <fstream>

namespace system_test {

void SystemFixture::SetUp()
{
    m_Dir = test_support::MakeTestHome("system");
    unsetenv("HARROW_WINVER");
    unsetenv("HARROW_MACHINE");
    harrow::platform::SetActiveMachine(nullptr);
    harrow::platform::ReloadRegistry();
    CComputerSystem::Destroy();
}

void SystemFixture::TearDown()
{
    CComputerSystem::Destroy();
    CLogFile::Destroy();
    CLogFile::SetLogging(true);
    CTarget::SetMaxLuns(0);
    AlignedBuffer::UnregisterBufferMgr();
    unsetenv("HARROW_WINVER");
    test_support::LeaveTestHome(m_Dir);
}

void SystemFixture::UseMachine(const std::string& json)
{
    test_support::UseMachineFile(m_Dir, json);
}

void SystemFixture::UseWindows(const char* version)
{
    setenv("HARROW_WINVER", version, 1);
    CComputerSystem::Destroy();
}

void SystemFixture::WriteRegistryText(const std::string& text)
{
    std::ofstream(m_Dir / "registry.reg") << text;
    harrow::platform::ReloadRegistry();
}

void SystemFixture::SetValue(const std::string& key, const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(handle, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(handle);
}

bool SystemFixture::KeyExists(const std::string& key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(handle);
    return true;
}

std::string SystemFixture::OsKey(const char* os)
{
    return std::string("SOFTWARE\\Orb\\") + kProduct + "\\DriverExceptions\\" + os;
}

}  // namespace system_test
