// A registry file of its own in a temporary folder for each test, and a
// small machine whose device map the test chooses.
#pragma once

#include "platform/DeviceNamespace.h"
#include "platform/Registry.h"
#include "support/FileText.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace registry_test {

class FakeMachine final : public harrow::platform::Machine {
public:
    explicit FakeMachine(std::vector<harrow::platform::RegistryKey> map) : m_map(std::move(map)) {}
    std::unique_ptr<harrow::platform::Device> Open(const std::string&, DWORD, DWORD* error) override
    {
        *error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    std::vector<harrow::platform::RegistryKey> DeviceMap() const override { return m_map; }

private:
    std::vector<harrow::platform::RegistryKey> m_map;
};

inline std::vector<BYTE> Bytes(const std::string& text, bool terminated = true)
{
    std::vector<BYTE> bytes(text.begin(), text.end());
    if (terminated) {
        bytes.push_back(0);
    }
    return bytes;
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_folder = test_support::MakeTestHome("registry");
        m_path = (m_folder / "conf" / "registry.reg").string();  // a folder the registry has to make
        ::setenv("HARROW_REGISTRY", m_path.c_str(), 1);
        harrow::platform::SetActiveMachine(std::make_unique<FakeMachine>(std::vector<harrow::platform::RegistryKey>{}));
        harrow::platform::ReloadRegistry();
    }

    void TearDown() override { test_support::LeaveTestHome(m_folder); }

    std::string FileText() const { return test_support::ReadText(m_path); }

    void WriteFile(const std::string& text) const
    {
        std::filesystem::create_directories(std::filesystem::path(m_path).parent_path());
        std::ofstream(m_path, std::ios::binary) << text;
    }

    static LSTATUS SetString(HKEY root, const char* key, const char* name, const std::string& text)
    {
        HKEY handle = nullptr;
        LSTATUS status = RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        std::vector<BYTE> data = Bytes(text);
        status = RegSetValueExA(handle, name, 0, REG_SZ, data.data(), static_cast<DWORD>(data.size()));
        RegCloseKey(handle);
        return status;
    }

    static std::string GetString(HKEY root, const char* key, const char* name)
    {
        HKEY handle = nullptr;
        if (RegOpenKeyExA(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) {
            return "<no key>";
        }
        char buffer[256] = {};
        DWORD size = sizeof buffer;
        DWORD type = 0;
        LSTATUS status = RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
        RegCloseKey(handle);
        return status == ERROR_SUCCESS && type == REG_SZ ? std::string(buffer) : "<no value>";
    }

    std::filesystem::path m_folder;
    std::string m_path;
};

}  // namespace registry_test
