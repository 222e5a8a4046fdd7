#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "CleanupRegistration.h"
#include "ProductNames.h"

namespace {

const char kFolder[] = "C:\\users\\someone\\Temp\\" PRODUCT_GUID;
const char kSpacedFolder[] =
    "C:\\Documents and Settings\\A User\\Local Settings\\Temp\\" PRODUCT_GUID;

TEST(CleanupCommand, DeltreeOnlyForWindows9x)
{
    const OsKind kinds[] = {kOsKindUnknown, kOsKindLegacy, kOsKindNT4, kOsKindWin9x, kOsKindNT5, kOsKindXP, kOsKindNT6, 6};
    for (const char* folder : {kFolder, kSpacedFolder}) {
        for (OsKind kind : kinds) {
            std::string expected = kind == kOsKindWin9x ? "command /C deltree /Y \"" : "cmd /Q /C rd /S /Q \"";
            expected += folder;
            expected += "\"";
            CString command;
            ASSERT_TRUE(FormatCleanupCommand(command, folder, kind));
            EXPECT_EQ(expected, command.GetString()) << "OsKind " << kind;
        }
    }
}

const char kTestKey[] = "Software\\WebInstallerUnitTests\\Cleanup";
const char kTestRoot[] = "Software\\WebInstallerUnitTests";

struct StoredValue {
    DWORD type;
    std::string data;  // every byte, terminating zeros included
};

bool ReadValue(const char* subKey, const char* name, StoredValue* value, DWORD* valueCount)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, subKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    char data[1024];
    DWORD size = sizeof(data);
    LONG result = RegQueryValueExA(key, name, NULL, &value->type, reinterpret_cast<BYTE*>(data), &size);
    RegQueryInfoKeyA(key, NULL, NULL, NULL, NULL, NULL, NULL, valueCount, NULL, NULL, NULL, NULL);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return false;
    value->data.assign(data, size);
    return true;
}

bool KeyExists(const char* subKey)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

class RegistryWriter : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, kTestRoot); }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kTestRoot); }
};

TEST_F(RegistryWriter, CreatesTheKeyAndStoresTheStringWithOneZero)
{
    ASSERT_FALSE(KeyExists(kTestKey));
    const std::string values[] = {std::string("cmd /Q /C rd /S /Q \"") + kSpacedFolder + "\"", "x", ""};
    for (const std::string& text : values) {
        // The writer keeps its own copy of the path.
        char subKey[MAX_PATH];
        lstrcpyA(subKey, kTestKey);
        CRegistryWriter writer(HKEY_CURRENT_USER, subKey);
        memset(subKey, 'z', sizeof(subKey) - 1);

        ASSERT_TRUE(writer.WriteString("Command", text.c_str())) << text;
        StoredValue stored = {};
        DWORD valueCount = 0;
        ASSERT_TRUE(ReadValue(kTestKey, "Command", &stored, &valueCount)) << text;
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), stored.type);
        // Each shorter value replaces the longer one before it whole.
        EXPECT_EQ(text + std::string(1, '\0'), stored.data);
        EXPECT_EQ(1u, valueCount);
    }
}

TEST_F(RegistryWriter, KeyThatCannotBeCreatedFails)
{
    // A non-volatile key cannot be created below a volatile one.
    HKEY parent;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kTestRoot, 0, NULL, REG_OPTION_VOLATILE,
                                             KEY_ALL_ACCESS, NULL, &parent, NULL));
    RegCloseKey(parent);

    struct Case {
        const char* what;
        HKEY root;
        const char* subKey;
    } cases[] = {
        {"below a volatile key", HKEY_CURRENT_USER, kTestKey},
        {"invalid root handle", reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234)), "Software"},
        {"empty path names the root itself", HKEY_CURRENT_USER, ""},
    };
    for (const Case& c : cases) {
        CRegistryWriter writer(c.root, c.subKey);
        EXPECT_FALSE(writer.WriteString("Command", "cmd /Q /C rd /S /Q \"C:\\x\"")) << c.what;
    }
    EXPECT_FALSE(KeyExists(kTestKey));
    HKEY root;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, NULL, 0, KEY_QUERY_VALUE, &root));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(root, "Command", NULL, NULL, NULL, NULL));
    RegCloseKey(root);
}

}  // namespace
