#include "sys/RegKey.h"
#include "sys/Util.h"

#include "TestUtil.h"

#include <gtest/gtest.h>

namespace {

const char kTestKey[] = "Software\\ZeltoTest";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean()
    {
        CRegKey software;
        if (software.Open(HKEY_CURRENT_USER, "Software") == ERROR_SUCCESS) software.RecurseDeleteKey("ZeltoTest");
    }
};

TEST_F(RegistryTest, KeyHolderReadsOnlyWellFormedValues)
{
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, kTestKey));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue("s", "\xC7\xD1\xB1\xDB text"));
    ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue("d", 42));
    ::RegSetValueExA(key.get(), "multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>("a\0b\0"), 5);
    ::RegSetValueExA(key.get(), "expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>("%TEMP%\\x"), 9);

    char buffer[64];
    DWORD size = sizeof(buffer);
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue("s", buffer, &size));
    EXPECT_STREQ("\xC7\xD1\xB1\xDB text", buffer);
    size = sizeof(buffer);
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue("expand", buffer, &size));
    EXPECT_STREQ("%TEMP%\\x", buffer) << "read unexpanded";
    size = sizeof(buffer);
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryStringValue("multi", buffer, &size)) << "a multi-string is not a string";
    size = sizeof(buffer);
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryStringValue("d", buffer, &size)) << "a number is not a string";

    DWORD value = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryDWORDValue("d", value));
    EXPECT_EQ(42u, value);
    EXPECT_NE(ERROR_SUCCESS, key.QueryDWORDValue("s", value));

    // A failed open leaves the holder with its key.
    EXPECT_NE(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, "Software\\ZeltoTest\\missing\\key"));
    EXPECT_EQ(ERROR_SUCCESS, key.QueryDWORDValue("d", value));
}

TEST_F(RegistryTest, DeletesWholeTrees)
{
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, "Software\\ZeltoTest\\tree\\a\\b\\c"));
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_CURRENT_USER, "Software\\ZeltoTest\\tree\\d"));
    key.Close();
    CRegKey parent;
    ASSERT_EQ(ERROR_SUCCESS, parent.Open(HKEY_CURRENT_USER, kTestKey));
    EXPECT_NE(ERROR_SUCCESS, parent.DeleteSubKey("tree")) << "a key with sub-keys is refused";
    EXPECT_EQ(ERROR_SUCCESS, parent.RecurseDeleteKey("tree"));
    EXPECT_NE(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, "Software\\ZeltoTest\\tree"));
}

TEST_F(RegistryTest, ProfileFunctions)
{
    // Missing keys, intermediate ones included, are created.
    EXPECT_TRUE(CUtil::SetProfileString(HKEY_CURRENT_USER, "Software\\ZeltoTest\\a\\b", "name", "value"));
    EXPECT_EQ("value", CUtil::GetProfileString(HKEY_CURRENT_USER, "Software\\ZeltoTest\\a\\b", "name", "def"));
    EXPECT_TRUE(CUtil::SetProfileInteger(HKEY_CURRENT_USER, "Software\\ZeltoTest\\a", "n", 7));
    EXPECT_EQ(7u, CUtil::GetProfileInteger(HKEY_CURRENT_USER, "Software\\ZeltoTest\\a", "n", 1));

    // Wrong types, over-long strings and missing keys give the default.
    EXPECT_EQ("def", CUtil::GetProfileString(HKEY_CURRENT_USER, "Software\\ZeltoTest\\a", "n", "def"));
    EXPECT_EQ(3u, CUtil::GetProfileInteger(HKEY_CURRENT_USER, "Software\\ZeltoTest\\a\\b", "name", 3));
    EXPECT_EQ("", CUtil::GetProfileString(HKEY_CURRENT_USER, "Software\\ZeltoTest\\none", "x", nullptr));
    std::string longText(512, 'x');
    EXPECT_TRUE(CUtil::SetProfileString(HKEY_CURRENT_USER, kTestKey, "long", longText.c_str()));
    EXPECT_EQ("def", CUtil::GetProfileString(HKEY_CURRENT_USER, kTestKey, "long", "def")) << "longer than 511 bytes";
    std::string fits(511, 'y');
    CUtil::SetProfileString(HKEY_CURRENT_USER, kTestKey, "fits", fits.c_str());
    EXPECT_EQ(fits, CUtil::GetProfileString(HKEY_CURRENT_USER, kTestKey, "fits", "def"));
}

TEST_F(RegistryTest, ProfileWriteFailuresAreLoggedReadably)
{
    testutil::TestLog log(1);
    // A key name longer than the registry allows cannot be created.
    const std::string tooLong = "Software\\ZeltoTest\\" + std::string(300, 'k');
    EXPECT_FALSE(CUtil::SetProfileString(HKEY_CURRENT_USER, tooLong.c_str(), "v", "t"));
    EXPECT_FALSE(CUtil::SetProfileInteger(HKEY_USERS, tooLong.c_str(), "v", 5));
    EXPECT_TRUE(log.Has("[SetProfileString] regKey.Create error = ")) << log.Contents();
    EXPECT_TRUE(log.Has("hKeyRoot = HKEY_CURRENT_USER szSection = Software\\ZeltoTest\\kkk"));
    EXPECT_TRUE(log.Has("[SetProfileInteger] regKey.Create error = "));
    EXPECT_TRUE(log.Has("hKeyRoot = HKEY_USERS szSection = "));
}

TEST_F(RegistryTest, BrowserMajorVersion)
{
    const char* vector = "SOFTWARE\\Microsoft\\Internet Explorer\\Version Vector";
    const char* main = "SOFTWARE\\Microsoft\\Internet Explorer";
    testutil::RegistryValueGuard ie(HKEY_LOCAL_MACHINE, vector, "IE");
    testutil::RegistryValueGuard version(HKEY_LOCAL_MACHINE, main, "Version");

    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, vector, "IE", "9.0");
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, main, "Version", "6.0.2900.5512");
    EXPECT_EQ(9, CUtil::GetIEMajorVersion()) << "the first value wins";

    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, vector));
    key.DeleteValue("IE");
    EXPECT_EQ(6, CUtil::GetIEMajorVersion()) << "fallback to Version";

    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, main, "Version", "11.0000");
    EXPECT_EQ(11, CUtil::GetIEMajorVersion());
    CUtil::SetProfileString(HKEY_LOCAL_MACHINE, main, "Version", "x8");
    EXPECT_EQ(0, CUtil::GetIEMajorVersion());
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, main));
    key.DeleteValue("Version");
    EXPECT_EQ(0, CUtil::GetIEMajorVersion());
}

}  // namespace
