#include "RegistryTestSupport.h"

#include <cstring>

namespace registry_test {
namespace {

using harrow::platform::ReloadRegistry;

TEST_F(RegistryTest, ValuesAreSavedInRegeditFormatAndReadBack)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Kestrel", 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    DWORD pause = 10;
    const BYTE binary[] = {0x01, 0x02, 0xFF};
    std::vector<BYTE> text = Bytes("a \"q\" \\ b");
    std::vector<BYTE> twoLines = Bytes("one\ntwo");
    ASSERT_EQ(RegSetValueExA(key, "Pause", 0, REG_DWORD, reinterpret_cast<BYTE*>(&pause), 4), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Bin", 0, REG_BINARY, binary, 3), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Name", 0, REG_SZ, text.data(), static_cast<DWORD>(text.size())), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Lines", 0, REG_SZ, twoLines.data(), static_cast<DWORD>(twoLines.size())),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_EXPAND_SZ, text.data(), 2), ERROR_SUCCESS);
    RegCloseKey(key);

    EXPECT_EQ(FileText(),
              "REGEDIT4\n"
              "\n[HKEY_CURRENT_USER\\Software]\n"
              "\n[HKEY_CURRENT_USER\\Software\\Kestrel]\n"
              "@=hex(2):61,20\n"
              "\"Bin\"=hex:01,02,ff\n"
              "\"Lines\"=hex(1):6f,6e,65,0a,74,77,6f,00\n"
              "\"Name\"=\"a \\\"q\\\" \\\\ b\"\n"
              "\"Pause\"=dword:0000000a\n");

    ReloadRegistry();
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\kestrel", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD type = 0;
    BYTE data[32] = {};
    DWORD size = sizeof data;
    ASSERT_EQ(RegQueryValueExA(key, "pause", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(data[0], 10);
    size = sizeof data;
    ASSERT_EQ(RegQueryValueExA(key, "Lines", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::vector<BYTE>(data, data + size), twoLines);
    size = sizeof data;
    ASSERT_EQ(RegQueryValueExA(key, "", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(size, 2u);
    RegCloseKey(key);
}

TEST_F(RegistryTest, QueryReportsMissingItemsAndTheSizeItNeeds)
{
    ASSERT_EQ(SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orb", "Driver", "aic78xx"), ERROR_SUCCESS);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nothing", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orb", 0, KEY_READ, &key), ERROR_SUCCESS);

    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(key, "Driver", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 8u) << "the size of a string counts its terminator";
    char small[4] = {};
    size = sizeof small;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Driver", nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(RegQueryValueExA(key, "Driver", nullptr, nullptr, reinterpret_cast<BYTE*>(small), nullptr),
              ERROR_INVALID_PARAMETER);

    const BYTE one = 1;
    EXPECT_EQ(RegSetValueExA(key, "Denied", 0, REG_BINARY, &one, 1), ERROR_ACCESS_DENIED)
        << "a key opened for reading";
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExA(key, "Driver", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, NamesIgnoreCaseKeepTheirSpellingAndEnumerateInOrder)
{
    for (const char* name : {"Scsi Port 10", "scsi port 2", "Scsi Port 1", "Alpha"}) {
        std::string path = std::string("Ports\\") + name;
        ASSERT_EQ(SetString(HKEY_CURRENT_USER, path.c_str(), "Driver", name), ERROR_SUCCESS);
    }
    ASSERT_EQ(SetString(HKEY_CURRENT_USER, "PORTS\\SCSI PORT 2", "DRIVER", "again"), ERROR_SUCCESS);
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "ports\\Scsi Port 2", "driver"), "again");

    HKEY ports = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Ports", 0, KEY_READ, &ports), ERROR_SUCCESS);
    std::vector<std::string> names;
    char name[64];
    DWORD index = 0;
    for (;; ++index) {
        DWORD size = sizeof name;
        LSTATUS status = RegEnumKeyExA(ports, index, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        ASSERT_EQ(status, ERROR_SUCCESS);
        EXPECT_EQ(size, std::strlen(name));
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "Scsi Port 1", "scsi port 2", "Scsi Port 10"}));

    DWORD size = 5;
    EXPECT_EQ(RegEnumKeyExA(ports, 1, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(size, 12u) << "room for \"Scsi Port 1\" and its terminator";
    EXPECT_EQ(RegEnumKeyA(ports, 3, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Scsi Port 10");

    DWORD subKeys = 0;
    DWORD longest = 0;
    ASSERT_EQ(RegQueryInfoKeyA(ports, nullptr, nullptr, nullptr, &subKeys, &longest, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 4u);
    EXPECT_EQ(longest, 12u);

    HKEY port = nullptr;
    ASSERT_EQ(RegOpenKeyExA(ports, "SCSI PORT 2", 0, KEY_READ, &port), ERROR_SUCCESS);
    char valueName[8];
    DWORD nameSize = sizeof valueName;
    BYTE data[4];
    DWORD dataSize = sizeof data;
    DWORD type = 0;
    EXPECT_EQ(RegEnumValueA(port, 0, valueName, &nameSize, nullptr, &type, data, &dataSize), ERROR_MORE_DATA);
    EXPECT_STREQ(valueName, "Driver") << "the name keeps the case it was made with";
    EXPECT_EQ(dataSize, 6u);
    nameSize = sizeof valueName;
    EXPECT_EQ(RegEnumValueA(port, 1, valueName, &nameSize, nullptr, &type, data, &dataSize), ERROR_NO_MORE_ITEMS);
    RegCloseKey(port);
    RegCloseKey(ports);
}

TEST_F(RegistryTest, KeysAreDeletedOnlyWhenEmptyAndOpenHandlesNoticeIt)
{
    ASSERT_EQ(SetString(HKEY_CURRENT_USER, "A\\B", "v", "1"), ERROR_SUCCESS);
    HKEY b = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "A\\B", &b), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "A"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "A\\Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(b, "missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(b, "V"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "a\\b"), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(b, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    RegCloseKey(b);
    EXPECT_EQ(FileText(), "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n");

    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "bad\\\\name", &key), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "bad\nname", &key), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, HandWrittenFilesAreRead)
{
    WriteFile("REGEDIT4\r\n"
              "; written by hand\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\Software\\Kestrel\\Harrow Viraradiza\\Options]\r\n"
              "\"CommandPauseMs\"=dword:1\r\n"
              "\"Blob\"=hex:01,02,\\\r\n"
              "  03\r\n"
              "@=\"default\"\r\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Kestrel\\Harrow Viraradiza\\Options", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD pause = 0;
    DWORD size = sizeof pause;
    EXPECT_EQ(RegQueryValueExA(key, "CommandPauseMs", nullptr, nullptr, reinterpret_cast<BYTE*>(&pause), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(pause, 1u);
    BYTE blob[8];
    size = sizeof blob;
    EXPECT_EQ(RegQueryValueExA(key, "Blob", nullptr, nullptr, blob, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::vector<BYTE>(blob, blob + size), (std::vector<BYTE>{1, 2, 3}));
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Software\\Kestrel\\Harrow Viraradiza\\Options", nullptr), "default");
    RegCloseKey(key);
}

TEST_F(RegistryTest, MalformedFilesAreRefusedWithNameAndLineAndNeverOverwritten)
{
    const std::string broken = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Good]\n\"a\"=dword:1\n\"b\"=hex:zz\n";
    WriteFile(broken);
    testing::internal::CaptureStderr();
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Good", 0, KEY_READ, &key), ERROR_BADDB);
    EXPECT_EQ(SetString(HKEY_CURRENT_USER, "Good", "c", "x"), ERROR_BADDB);
    EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "New", &key), ERROR_BADDB);
    std::string told = testing::internal::GetCapturedStderr();
    EXPECT_NE(told.find(m_path), std::string::npos) << told;
    EXPECT_NE(told.find("line 5"), std::string::npos) << told;
    EXPECT_EQ(told.find("harrow:"), told.rfind("harrow:")) << "told once: " << told;
    EXPECT_EQ(FileText(), broken);

    for (const char* bad : {"[HKEY_CURRENT_USER\\A]\n",                 // no header
                            "REGEDIT4\n\"a\"=\"b\"\n",                 // value before a key
                            "REGEDIT4\n[HKEY_NOWHERE\\A]\n",           // unknown root
                            "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=\"open\n",
                            "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=dword:123456789\n",
                            "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"a\"=hex:01,02,\n",  // a byte missing at the end
                            "REGEDIT4\n[HKEY_CURRENT_USER\\A\\\\B]\n"}) {
        WriteFile(bad);
        testing::internal::CaptureStderr();
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "A", 0, KEY_READ, &key), ERROR_BADDB) << bad;
        EXPECT_NE(testing::internal::GetCapturedStderr().find("malformed"), std::string::npos) << bad;
    }

    WriteFile("REGEDIT4\n[HKEY_CURRENT_USER\\Good]\n\"a\"=\"mended\"\n");
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Good", "a"), "mended");
}

}  // namespace
}  // namespace registry_test
